// The driver half of the test E-mote pair: the engine only checks that it
// can be loaded.
extern "C" __attribute__((visibility("default"))) int kl_emote_driver_present() { return 1; }
