/* A frame-hook plug-in for the tests: Process adds a constant to the first byte of the
 * first plane and counts its calls; Release writes the count where Configure was told. */
#include <stdlib.h>
#include <string.h>

#include "kelto_framehook.h"

typedef struct {
    int add;
    int calls;
    int *released_calls;
} HookContext;

#if !defined(HOOK_NOCONFIGURE)
int Configure(void **ctxp, int argc, char *argv[]) {
#if defined(HOOK_BADCONFIGURE)
    (void)ctxp; (void)argc; (void)argv;
    return 1;
#else
    HookContext *c = calloc(1, sizeof *c);
    c->add = argc > 1 ? atoi(argv[1]) : 1;
    if (argc > 2) c->released_calls = (int *)(uintptr_t)strtoull(argv[2], NULL, 16);
    *ctxp = c;
    return 0;
#endif
}
#endif

#if !defined(HOOK_NOPROCESS)
void Process(void *ctx, KeltoHookPicture *picture, int pix_fmt, int width, int height, int64_t pts) {
    (void)pix_fmt; (void)width; (void)height; (void)pts;
    HookContext *c = ctx;
    picture->data[0][0] = (uint8_t)(picture->data[0][0] + (c ? c->add : 1));
    if (c) c->calls++;
}
#endif

void Release(void *ctx) {
    HookContext *c = ctx;
    if (!c) return;
    if (c->released_calls) *c->released_calls = c->calls;
    free(c);
}
