// The choice between sharing a pixel job and running it on the poster,
// driven with the costs each way would have.
#include <gtest/gtest.h>

#include "engine/image/share_choice.h"

namespace {

// Posts `count` jobs of one class whose true costs are `alone` and `shared`
// picoseconds a pixel; returns the choice of each job.
std::vector<bool> run_jobs(JobTimes& t, int count, i64 alone, i64 shared) {
  std::vector<bool> choices;
  for (int i = 0; i < count; ++i) {
    const bool share = choose_sharing(t);
    note_job_cost(t, share ? shared : alone, share);
    choices.push_back(share);
  }
  return choices;
}

int shared_count(const std::vector<bool>& choices) {
  int n = 0;
  for (bool c : choices) n += c;
  return n;
}

// A load that made sharing costly for a long while (so probes came ever less
// often) is over: the next probe finds sharing cheap again, and jobs are
// shared from then on, not only after several more probes have worn the
// old cost down.
TEST(ShareChoice, OneProbeAfterALoadEndsBringsSharingBack) {
  JobTimes t;
  const std::vector<bool> idle = run_jobs(t, 2000, 300, 100);
  EXPECT_GT(shared_count(idle), 1900);
  const std::vector<bool> busy = run_jobs(t, 6000, 300, 20000);
  EXPECT_LT(shared_count(busy), 60);
  EXPECT_EQ(t.probe_interval, kProbeEveryMost);

  const std::vector<bool> after = run_jobs(t, 3000, 300, 100);
  int back = -1;  // the first job of a run of 20 shared ones
  for (int i = 0; i + 20 <= static_cast<int>(after.size()) && back < 0; ++i) {
    int run = 0;
    while (run < 20 && after[i + run]) ++run;
    if (run == 20) back = i;
  }
  ASSERT_GE(back, 0) << "sharing never came back";
  EXPECT_LE(back, static_cast<int>(kProbeEveryMost) + kProbeJobs) << "sharing came back only after more than one probe";
  EXPECT_GT(shared_count(std::vector<bool>(after.begin() + back, after.end())),
            static_cast<int>(after.size() - back) * 95 / 100);
}

// With steady costs the cheaper way is taken, sharing only when it is
// clearly the cheaper, and the probes of the other way stay few.
TEST(ShareChoice, TakesTheClearlyCheaperWay) {
  struct Case {
    i64 alone, shared;
    bool shared_wanted;
  } cases[] = {{300, 100, true}, {300, 290, false}, {300, 20000, false}, {5000, 300, true}};
  for (const Case& c : cases) {
    JobTimes t;
    const std::vector<bool> choices = run_jobs(t, 4000, c.alone, c.shared);
    const int shared = shared_count(std::vector<bool>(choices.begin() + 100, choices.end()));
    if (c.shared_wanted)
      EXPECT_GT(shared, 3900 * 95 / 100) << c.alone << " against " << c.shared;
    else
      EXPECT_LT(shared, 3900 * 5 / 100) << c.alone << " against " << c.shared;
  }
}

}  // namespace
