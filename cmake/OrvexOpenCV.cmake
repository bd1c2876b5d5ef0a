# Finds the three OpenCV modules the Orvex libraries use (Debian's libopencv-*-dev
# ship no CMake package of their own) and defines imported targets for them:
# Orvex::opencv_core, Orvex::opencv_imgproc, Orvex::opencv_imgcodecs.
find_path(ORVEX_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
foreach(module core imgproc imgcodecs)
  if(NOT TARGET Orvex::opencv_${module})
    find_library(ORVEX_OPENCV_${module}_LIBRARY opencv_${module})
    if(ORVEX_OPENCV_INCLUDE_DIR AND ORVEX_OPENCV_${module}_LIBRARY)
      add_library(Orvex::opencv_${module} UNKNOWN IMPORTED)
      set_target_properties(Orvex::opencv_${module} PROPERTIES
        IMPORTED_LOCATION "${ORVEX_OPENCV_${module}_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${ORVEX_OPENCV_INCLUDE_DIR}")
    endif()
  endif()
endforeach()
