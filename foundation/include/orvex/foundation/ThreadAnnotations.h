// Clang's thread-safety attributes, through macros that vanish for other compilers.
//
// ORVEX_GUARDED_BY(m) on a field: it is read and written only while m is held.
// ORVEX_REQUIRES(m) on a function: the caller holds m. ORVEX_EXCLUDES(m): the caller
// does not hold m (the function takes it). ORVEX_ACQUIRED_AFTER(m) on a mutex: it is
// taken after m; ORVEX_ASSERT_CAPABILITY(m) on a function: after the call, the caller
// may act as if it held m. With -Wthread-safety and an annotated standard library (libc++ with
// _LIBCPP_ENABLE_THREAD_SAFETY_ANNOTATIONS, as scripts/check-threads.sh builds),
// clang checks them at compile time.
#ifndef ORVEX_FOUNDATION_THREADANNOTATIONS_H
#define ORVEX_FOUNDATION_THREADANNOTATIONS_H

#if defined(__clang__)
#define ORVEX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORVEX_THREAD_ANNOTATION(x)
#endif

#define ORVEX_GUARDED_BY(x) ORVEX_THREAD_ANNOTATION(guarded_by(x))
#define ORVEX_PT_GUARDED_BY(x) ORVEX_THREAD_ANNOTATION(pt_guarded_by(x))
#define ORVEX_REQUIRES(...) ORVEX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ORVEX_EXCLUDES(...) ORVEX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ORVEX_ACQUIRED_AFTER(...) ORVEX_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ORVEX_ACQUIRED_BEFORE(...) ORVEX_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ORVEX_NO_THREAD_SAFETY_ANALYSIS ORVEX_THREAD_ANNOTATION(no_thread_safety_analysis)
#define ORVEX_CAPABILITY(x) ORVEX_THREAD_ANNOTATION(capability(x))
#define ORVEX_SCOPED_CAPABILITY ORVEX_THREAD_ANNOTATION(scoped_lockable)
#define ORVEX_ACQUIRE(...) ORVEX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ORVEX_ASSERT_CAPABILITY(x) ORVEX_THREAD_ANNOTATION(assert_capability(x))
#define ORVEX_RELEASE(...) ORVEX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

#endif
