// The test E-mote pair's own exports beside its ordinals: the record of
// every ordinal call, one line each ("119 driver 64", "214 p1 0.5", ...),
// and its controls.
#pragma once

// Export names, looked up through the dynamic-library service.
constexpr const char* kEmotePairLog = "kl_emote_pair_log";                 // const char* ()
constexpr const char* kEmotePairReset = "kl_emote_pair_reset";             // void (): log and controls
constexpr const char* kEmotePairFailDriver = "kl_emote_pair_fail_driver";  // void (int): ordinal 2 fails
constexpr const char* kEmotePairLivePlayers = "kl_emote_pair_live_players";  // int (): players not released
