// GapBuffer<T>: a sequence of trivially copyable elements with a hole (the
// gap) kept where the last change was made, so that a run of insertions or
// deletions at one place moves only the elements between that place and the
// previous one, not the whole tail. Indices are logical (0..size()-1, the gap
// is invisible). The gap moves lazily, so reading operations that need the
// elements in one piece (data()) may move it: they are const but not free.
//
// Not thread-safe; the control that owns it runs on the GUI thread only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <cstring>
#include <string>
#include <type_traits>

namespace zema {

template <class T>
class GapBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  // Number of elements (the gap excluded).
  int size() const { return cap_ - (gap_end_ - gap_start_); }
  bool empty() const { return size() == 0; }
  // Elements the storage holds without growing (gap included).
  int capacity() const { return cap_; }

  // Element i, 0 <= i < size().
  T operator[](int i) const { return buf_[Phys(i)]; }
  T& operator[](int i) { return buf_[Phys(i)]; }
  T back() const { return (*this)[size() - 1]; }

  // Grows the storage to at least n elements, and by at least half of what
  // it holds, so that a text built by appending is copied a bounded number
  // of times per element. Throws std::bad_alloc and leaves the contents
  // unchanged when it cannot.
  void reserve(int n) {
    if (n <= cap_) return;
    n = static_cast<int>(std::min<long long>(std::max<long long>(n, cap_ + cap_ / 2L), INT32_MAX));
    auto grown = std::make_unique_for_overwrite<T[]>(static_cast<std::size_t>(n));  // may throw
    const int tail = cap_ - gap_end_;
    std::copy_n(buf_.get(), gap_start_, grown.get());
    std::copy_n(buf_.get() + gap_end_, tail, grown.get() + n - tail);
    buf_ = std::move(grown);
    cap_ = n;
    gap_end_ = n - tail;
  }

  // Inserts n copies of value (or the n elements at src) before index pos,
  // 0 <= pos <= size(); grows the storage as reserve does (same failure).
  void insert(int pos, int n, T value) {
    OpenAt(pos, n);
    std::fill_n(buf_.get() + gap_start_, n, value);
    gap_start_ += n;
  }
  void insert(int pos, const T* src, int n) {
    OpenAt(pos, n);
    std::copy_n(src, n, buf_.get() + gap_start_);
    gap_start_ += n;
  }
  // Removes the n elements from pos on (pos + n <= size()).
  void erase(int pos, int n) {
    MoveGap(pos);
    gap_end_ += n;
  }
  // Truncates to n <= size() elements.
  void truncate(int n) { erase(n, size() - n); }
  void clear() { truncate(0); }

  // Index of the first element equal to value in from..to-1, or -1.
  int find(int from, int to, T value) const {
    int found = -1;
    ForPieces(from, to, [&](const T* b, const T* e) {
      const T* f = std::find(b, e, value);
      if (f == e) return false;
      found = Logical(static_cast<int>(f - buf_.get()));
      return true;
    });
    return found;
  }
  // Number of elements equal to value in from..to-1.
  int count(int from, int to, T value) const {
    int n = 0;
    ForPieces(from, to, [&](const T* b, const T* e) {
      n += static_cast<int>(std::count(b, e, value));
      return false;
    });
    return n;
  }
  // Copies the n elements from index from on to dst.
  void copy_out(int from, int n, T* dst) const {
    ForPieces(from, from + n, [&](const T* b, const T* e) {
      dst = std::copy(b, e, dst);
      return false;
    });
  }
  // The elements from..to-1 as a string (T = char).
  std::string substr(int from, int to) const {
    std::string s(static_cast<std::size_t>(std::max(0, to - from)), T{});
    copy_out(from, to - from, s.data());
    return s;
  }

  // The elements in one piece (valid until the next change). Moves the gap
  // to the end, which costs a move of the elements after it.
  const T* data() const {
    MoveGap(size());
    return buf_.get();
  }

 private:
  int Phys(int i) const { return i < gap_start_ ? i : i + (gap_end_ - gap_start_); }
  int Logical(int phys) const { return phys < gap_start_ ? phys : phys - (gap_end_ - gap_start_); }
  // Calls fn(begin, end) on the physical stretches holding logical from..to-1
  // in order (one or two) until fn answers true.
  template <class Fn>
  void ForPieces(int from, int to, Fn fn) const {
    if (from >= to) return;
    const T* b = buf_.get();
    if (from < gap_start_ && fn(b + from, b + std::min(to, gap_start_))) return;
    if (to > gap_start_) fn(b + Phys(std::max(from, gap_start_)), b + Phys(to - 1) + 1);
  }
  void MoveGap(int pos) const {
    if (pos < gap_start_) {
      const int n = gap_start_ - pos;
      if (n > 0) std::memmove(buf_.get() + gap_end_ - n, buf_.get() + pos, sizeof(T) * n);
      gap_start_ -= n;
      gap_end_ -= n;
    } else if (pos > gap_start_) {
      const int n = pos - gap_start_;
      if (n > 0) std::memmove(buf_.get() + gap_start_, buf_.get() + gap_end_, sizeof(T) * n);
      gap_start_ += n;
      gap_end_ += n;
    }
  }
  void OpenAt(int pos, int n) {
    if (gap_end_ - gap_start_ < n) reserve(capacity() + n + 10000);
    MoveGap(pos);
  }

  // Mutable so that data() can close the gap.
  mutable std::unique_ptr<T[]> buf_;
  int cap_ = 0;
  mutable int gap_start_ = 0, gap_end_ = 0;
};

}  // namespace zema
