#include "support/test_support.h"
#include "ostrelin/ostrelin.h"
namespace ostrelin::test {
class Smoke : public ScratchDirTest {};
TEST_F(Smoke, EmptyJob) {
  RecordSet set;
  auto settings = DefaultSettings();
  ostrelinInit(set.ctx, set.spool, set.job, settings.data());
  ostrelinDoBinary(set.ctx, set.spool, set.job);
  auto bytes = ReadBack(set);
  EXPECT_EQ(bytes.size(), 8u + 192u + 36u);
  EXPECT_EQ(ostrelinClean(set.ctx, set.spool, set.job), 0);
}
}
