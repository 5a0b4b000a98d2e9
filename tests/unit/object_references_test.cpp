// Values that hold object references, copied and released by APL lines:
// every copy counts its references and every release gives them up, so
// that after each line every object's count is exactly the number of
// references kept to it, and an object lives exactly as long as one is.
#include <gtest/gtest.h>

#include <string>

#include "host/charset.h"
#include "interpreter/engine/instances.h"
#include "interpreter/session/class_definition.h"
#include "interpreter/workspace/arrays.h"
#include "interpreter/workspace/stack.h"
#include "interpreter/workspace/symtab.h"
#include "interpreter/workspace/heap.h"
#include "interpreter/workspace/object_pool.h"
#include "test_workspace.h"

namespace zema {
namespace {

class ObjectReferences : public test::DefiningSession {
 protected:
  void SetUp() override {
    DefiningSessionOn::SetUp();
    install_class_definition_routes();
  }
  // Runs one line and checks the pool, the heap and the counts after it.
  std::string line(const std::string& text) {
    const std::string out = type({text});
    EXPECT_TRUE(object_pool_consistent(ws())) << text;
    EXPECT_TRUE(heap_consistent(ws())) << text;
    EXPECT_TRUE(object_reference_counts_consistent(true, ws())) << text;
    return out;
  }
  std::uint32_t in_use() {
    force_gcol(ws());
    const std::uint32_t p = object_pool(ws());
    return p ? rd32(ws(), p + pool::InUse) - 1 : 0;
  }
};

TEST_F(ObjectReferences, CopiesKeepTheClassAliveAndReleasesFreeIt) {
  line("∇P {}");
  line("∇Q {}");
  // Each line copies references in its own way; the names keep them.
  const char* copies[] = {
      "X←P",            // a name's value copied into another name
      "Y←3⍴X",          // reshape
      "Z←X,Y",          // catenate
      "T←2↑Z",          // take
      "C←1 0 1/Y",      // compress
      "N←X 1 'a'",      // strand into a nested array
      "F←↑N",           // first
      "K←1⊃N",          // pick
      "E←⊂X",           // enclose
      "D←⊃E",           // disclose
      "R←Y[2 1]",       // bracket indexing
      "S←⊂¨Y",          // each
      "(A B)←X Q",      // strand assignment
      "Y[2]←Q",         // indexed assignment, in place
      "Y[1]←Q",         //   and again, dropping a reference to P
      "N[2]←⊂Y",        // indexed assignment into a nested array
      "G←X X",          // then released at once by reassigning
      "G←0",
  };
  for (const char* c : copies) line(c);
  line("⎕FX 'Z←ID W' 'Z←W'");
  line("H←ID X");  // through a function's argument and result
  line("⎕EX 'P'");
  // Every copy still names the class, which lives on as a deleted one.
  EXPECT_EQ(line("X"), "{DELETED CLASS}\n");
  EXPECT_EQ(line("H"), "{DELETED CLASS}\n");
  EXPECT_EQ(in_use(), 2u);
  line("⎕EX 16 1⍴'XYZTCNFKEDRSABGH'");
  EXPECT_EQ(line("⎕NL 2"), "");  // no variable left
  // Q is still named, P no longer referred to anywhere.
  EXPECT_EQ(in_use(), 1u);
  line("⎕EX 'Q'");
  EXPECT_EQ(in_use(), 0u);
}

TEST_F(ObjectReferences, InstancesLiveWhileReferredToAndListTheirPublicMembers) {
  line("∇Point;secret {");
  line("x");
  line("secret");
  line("}");
  line("∇Child:Point {");
  line("y");
  line("}");
  line("L←⎕NEW¨4⍴'Point' 'Child'");
  line("M←L[2 2 3]");
  EXPECT_EQ(in_use(), 6u);  // two classes, four instances
  line("L←0");
  EXPECT_EQ(in_use(), 4u);  // the second instance, held by M
  // ⎕NL of an instance: its class's and its ancestors' public properties.
  const std::uint32_t slot = rd32(ws(), rd32(ws(), entry_of("M") + sym::Value) + obj::Shape + 4);
  internal_quad_nl(1u << 2, slot, ws());
  const std::uint32_t z = rd32(ws(), stack_entry_at(0, ws()) + se::Value);
  EXPECT_EQ(internal_to_utf8(std::string(reinterpret_cast<const char*>(ws() + array_data(z, ws())), 2)), "xy");
  EXPECT_EQ(array_axis(z, 0, ws()), 2u);
  StackEntry e;
  unstack(e, ws());
  release_entry(e, ws());
  line("⎕EX 'M'");
  EXPECT_EQ(in_use(), 2u);
}

}  // namespace
}  // namespace zema
