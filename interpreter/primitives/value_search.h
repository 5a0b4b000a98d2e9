// Searching the elements of one simple array among those of another, as
// dyadic ⍳, ∊ and ~ need it: for each probe, in order, the first position of
// a table element equal to it (tolerantly when a float takes part), or the
// table's count when there is none. The results are those of a scan of the
// table per probe; the routes are faster where they can be: integers hashed,
// characters and booleans by direct tables, floats through the table's
// values sorted with their positions. Scratch lies in the free gap between
// heap top and stack; nothing is allocated, nothing is kept.
#pragma once

#include <cstdint>

#include "interpreter/primitives/structural.h"

namespace zema {

// What a search does with each probe's answer.
enum class SearchUse : std::uint8_t {
  Index,    // writes ⎕IO + the position as an integer at z's element j
  Member,   // sets z's boolean element j when found (z's data zeroed)
  Without,  // appends the probe's element, unless found, to z (same type as the probes)
};

struct SearchSink {
  SearchUse use = SearchUse::Index;
  ArrayInfo z;             // the result being written
  std::int32_t io = 0;     // the index origin (Index)
  std::uint32_t kept = 0;  // elements appended so far (Without)
};

// Searches each element of the simple array `probes` among the elements of
// the simple array `table` (element types of both not nested; the counts may
// be 0) and hands the answers to `sink` in probe order. Elements of kinds
// that cannot be equal (characters, references, numbers) never are. Polls
// attention. Writes only z's data; reads ⎕CT.
void search_simple(const ArrayInfo& table, const ArrayInfo& probes, SearchSink& sink, Ws ws);

}  // namespace zema
