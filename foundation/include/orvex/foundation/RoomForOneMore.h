// Making room before a change that must not fail half-way.
#ifndef ORVEX_FOUNDATION_ROOMFORONEMORE_H
#define ORVEX_FOUNDATION_ROOMFORONEMORE_H

#include <cstddef>

namespace orvex {

// Grows `vector` (doubling, as push_back does) so that one push_back cannot allocate.
template <class Vector>
void MakeRoomForOneMore(Vector& vector) {
  if (vector.size() == vector.capacity()) vector.reserve(vector.empty() ? std::size_t(4) : 2 * vector.size());
}

}  // namespace orvex

#endif
