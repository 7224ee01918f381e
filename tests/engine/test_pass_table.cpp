// The pass table: what each entry names and how it runs, and the names a
// user may ask for in each numeric mode. (That every exact entry gives the reference's bits is
// the golden run's and the parallel passes' tests' to show.)
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/vector_width.h"
#include "engine/engine.h"
#include "engine/pass_table.h"

using namespace strellix;

namespace {

TEST(PassTable, EntriesAndNames) {
  const auto sets = pass_sets();
  const std::size_t per_mode = processor_has_avx2() ? 3u : 2u;
  ASSERT_EQ(sets.size(), 2 * per_mode);
  EXPECT_EQ(std::string(sets[0]->name), "reference");
  EXPECT_FALSE(sets[0]->threaded || sets[0]->wide || sets[0]->online_fused != nullptr);
  for (const PassSet* set : sets) {
    const bool fast = set->numerics == Numerics::fast;
    const std::string name = set->name;
    EXPECT_EQ(set->exact, !fast) << name;
    EXPECT_EQ(name.compare(0, 5, "fast-") == 0, fast) << name;
    EXPECT_EQ(set->wide, name == "avx2" || name == "fast-avx2");
    // The fast entries run the fast model; the exact ones have every pass.
    EXPECT_EQ(set->convert && set->convert_on_caller && set->calibrate && set->segment && set->filter &&
                  set->update,
              !fast)
        << name;
  }
  // Within each mode: "avx2" where the processor lacks it, and "auto",
  // give the fastest; "reference" the plainest.
  for (Numerics mode : {Numerics::exact, Numerics::fast}) {
    const PassSet* last = mode == Numerics::exact ? sets[per_mode - 1] : sets.back();
    EXPECT_EQ(&pass_set_named("avx2", mode), last);
    EXPECT_EQ(&pass_set_named("auto", mode), last);
    EXPECT_FALSE(pass_set_named("reference", mode).threaded);
    EXPECT_EQ(pass_set_named("baseline", mode).numerics, mode);
    for (const char* name : {"", "fast", "AVX2", "reference "})
      EXPECT_THROW(pass_set_named(name, mode), std::invalid_argument) << name;
  }
  Parameters fast;
  fast.numerics = Numerics::fast;
  EXPECT_EQ(choose_passes(fast).numerics, Numerics::fast);
  EXPECT_EQ(choose_passes(Parameters()).numerics, Numerics::exact);
}

// An engine runs as its entry says: the reference on the calling thread
// alone, whatever the threads asked for.
TEST(PassTable, EngineExecutionFollowsItsEntry) {
  Parameters p;
  p.threads = 3;
  for (const PassSet* set : pass_sets()) {
    p.numerics = set->numerics;
    const Engine engine(p, *set);
    EXPECT_EQ(engine.execution().workers != nullptr, set->threaded) << set->name;
    EXPECT_EQ(engine.execution().wide, set->wide) << set->name;
    // An entry of the other mode is refused.
    p.numerics = set->numerics == Numerics::fast ? Numerics::exact : Numerics::fast;
    EXPECT_THROW(Engine(p, *set), std::invalid_argument) << set->name;
  }
}

}  // namespace
