// The choice between sharing a pixel job with the workers and running it on
// the posting thread alone, kept per class of job size from what each way
// has cost lately.
#pragma once
#include "engine/frame/types.h"

// Every so many jobs of a class, one runs alone or a few are shared, the way
// that has been slower, so that a change of the machine's load is noticed;
// while probes change nothing they come ever less often. A probe of sharing
// starts with workers that have gone to sleep meanwhile; its first job is
// not timed, the rest show what sharing costs while it goes on.
constexpr u32 kProbeEvery = 48;
constexpr u32 kProbeEveryMost = 768;
constexpr u8 kProbeJobs = 4;
// Sharing only when it is clearly the faster: on the poster alone a job
// cannot be held up by another thread.
constexpr i64 kShareBelowPercent = 85;

struct JobTimes {
  i64 alone_ps = 0;   // picoseconds per pixel run alone (0: not measured yet)
  i64 shared_ps = 0;  // the same, shared
  u32 jobs = 0;       // jobs of this class posted
  u8 probe_left = 0;  // jobs still to run the other way in the current probe
  u8 skip = 0;        // 1: the next time is not taken (a pool woken from sleep)
  // The way whose next time replaces its cost instead of moving it a quarter
  // of the way (1 alone, 2 shared, 0 neither): the first timed job of a
  // probe, so that what a way cost under a load long gone does not outlive
  // the probe that finds it cheaper now.
  u8 fresh = 0;
  bool probe_from = false;  // the choice the current probe runs against
  u8 last_choice = 2;       // the choice at the last probe (2: none yet)
  u32 probe_interval = kProbeEvery;  // jobs between probes
  u32 probe_wait = kProbeEvery;      // jobs until the next probe
};

// Whether the next job of the class is shared; counts the job.
bool choose_sharing(JobTimes& t);

// A job of the class took `ps_per_pixel` picoseconds a pixel, shared or not.
void note_job_cost(JobTimes& t, i64 ps_per_pixel, bool shared);
