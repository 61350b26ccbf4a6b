// FluidSynth loads a SoundFont's samples on an OpenMP team. libgomp is not built for
// ThreadSanitizer, so the hand-over of its buffers between its own threads looks like a race.
// Only calls made from inside libgomp are ignored.

#if defined(__SANITIZE_THREAD__)
#define PITCHLOOM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PITCHLOOM_TSAN 1
#endif
#endif

#if defined(PITCHLOOM_TSAN)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libgomp.so\n";
}
#endif
