/* Frame-hook plug-ins of the converter.
 *
 * A plug-in is a shared object with these entry points (plain C names):
 *   int  Configure(void **ctxp, int argc, char *argv[]);   optional when argc is 1
 *   void Process(void *ctx, KeltoHookPicture *picture, int pix_fmt, int width, int height,
 *                int64_t pts);                               required
 *   void Release(void *ctx);                                 optional
 * argv[0] is the plug-in's file name, the further arguments are its own. Configure stores
 * its private context in *ctxp and returns 0 on success. Process may change the picture in
 * place; pix_fmt is the media library's pixel-format number, pts is in microseconds.
 */
#ifndef KELTO_FRAMEHOOK_H
#define KELTO_FRAMEHOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KeltoHookPicture {
    uint8_t *data[4];
    int linesize[4];
} KeltoHookPicture;

typedef int (*FrameHookConfigureFn)(void **ctxp, int argc, char *argv[]);
typedef void (*FrameHookProcessFn)(void *ctx, KeltoHookPicture *picture, int pix_fmt,
                                   int width, int height, int64_t pts);
typedef void (*FrameHookReleaseFn)(void *ctx);

#ifdef __cplusplus
}
#endif

#endif
