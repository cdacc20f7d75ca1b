/* vireocore: the C interface of the transceiver core.
 *
 * Every function may be called from one host thread at a time. Set, reset and
 * method functions only queue work and return at once; bind functions store
 * the callback at once. Callbacks run on the host thread inside getUpdates and
 * getRenderUpdates. Every handle the library gives the host is freed exactly
 * once by the host, with the release or delete function of its kind.
 */
#ifndef VIREOCORE_H
#define VIREOCORE_H

#if defined(VIREO_BUILDING_LIBRARY)
#define VIREO_API __attribute__((visibility("default")))
#else
#define VIREO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Library start-up, polling and shut-down ---- */
VIREO_API void init(const char* logPath, int verbose);
VIREO_API void getUpdates(void);
VIREO_API void getRenderUpdates(void);
VIREO_API void closeAudio(void);

#ifdef __cplusplus
}
#endif

#endif
