#include "engine/image/share_choice.h"

#include <algorithm>

bool choose_sharing(JobTimes& t) {
  ++t.jobs;
  if (t.shared_ps == 0) {
    if (t.jobs == 1) t.skip = 1;
    return true;
  }
  if (t.alone_ps == 0) return false;
  const bool share = t.shared_ps * 100 < t.alone_ps * kShareBelowPercent;
  if (t.probe_left > 0) {
    --t.probe_left;
    return !t.probe_from;
  }
  if (t.probe_wait > 0) --t.probe_wait;
  if (t.probe_wait == 0) {
    // A probe that changed nothing waits twice as long for the next one.
    t.probe_interval = share == (t.last_choice != 0) ? std::min<u32>(t.probe_interval * 2, kProbeEveryMost) : kProbeEvery;
    t.last_choice = share ? 1 : 0;
    t.probe_wait = t.probe_interval;
    t.probe_from = share;
    // Running alone needs no warming up: one job tells its time.
    t.probe_left = share ? 0 : kProbeJobs - 1;
    t.skip = share ? 0 : 1;
    t.fresh = share ? 1 : 2;
    return !share;
  }
  return share;
}

void note_job_cost(JobTimes& t, i64 ps_per_pixel, bool shared) {
  if (t.skip && shared) {
    t.skip = 0;
    return;
  }
  i64& slot = shared ? t.shared_ps : t.alone_ps;
  const i64 sample = std::max<i64>(ps_per_pixel, 1);
  if (slot == 0 || t.fresh == (shared ? 2 : 1)) {
    slot = sample;
    t.fresh = 0;
    return;
  }
  slot += (sample - slot) / 4;
}
