// The pass table: what each entry names and how it runs, and the names a
// user may ask for. (That every exact entry gives the reference's bits is
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
  ASSERT_EQ(sets.size(), processor_has_avx2() ? 3u : 2u);
  EXPECT_EQ(std::string(sets[0]->name), "reference");
  EXPECT_FALSE(sets[0]->threaded || sets[0]->wide || sets[0]->online_fused != nullptr);
  for (const PassSet* set : sets) {
    EXPECT_TRUE(set->exact) << set->name;
    EXPECT_EQ(&pass_set_named(set->name), set);
    EXPECT_EQ(set->wide, std::string(set->name) == "avx2");
    EXPECT_TRUE(set->convert && set->convert_on_caller && set->calibrate && set->segment && set->filter &&
                set->update)
        << set->name;
  }
  // "avx2" where the processor lacks it, and "auto", give the fastest.
  EXPECT_EQ(&pass_set_named("avx2"), sets.back());
  EXPECT_EQ(&pass_set_named("auto"), sets.back());
  for (const char* name : {"", "fast", "AVX2", "reference "})
    EXPECT_THROW(pass_set_named(name), std::invalid_argument) << name;
}

// An engine runs as its entry says: the reference on the calling thread
// alone, whatever the threads asked for.
TEST(PassTable, EngineExecutionFollowsItsEntry) {
  Parameters p;
  p.threads = 3;
  for (const PassSet* set : pass_sets()) {
    const Engine engine(p, *set);
    EXPECT_EQ(engine.execution().workers != nullptr, set->threaded) << set->name;
    EXPECT_EQ(engine.execution().wide, set->wide) << set->name;
  }
}

}  // namespace
