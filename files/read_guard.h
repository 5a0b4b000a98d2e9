// Reads of a mapped file guarded against the file shrinking underneath:
// another process may truncate a file while it is mapped, and a read past
// the new end raises SIGBUS. A guarded read turns that into a result code
// instead of ending the process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zema {

// Runs work(context). A SIGBUS raised by a read of the `count` bytes at
// `bytes` (a mapping whose file shrank) on this thread abandons the work
// where it stands: the answer is then 7 (the file is no workspace any
// more), else 0. The work is left by a jump, not by an exception: it must
// hold nothing that a destructor would have to undo. SIGBUS at any other
// address goes to whatever handled it before.
int guarded_read(const std::uint8_t* bytes, std::size_t count, void (*work)(void*), void* context);

// The same for a callable object `work` (called once, without arguments).
template <class Work>
int guarded_read(const std::uint8_t* bytes, std::size_t count, Work& work) {
  return guarded_read(bytes, count, [](void* w) { (*static_cast<Work*>(w))(); }, &work);
}

}  // namespace zema
