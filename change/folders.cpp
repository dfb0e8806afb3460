#include "folders.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *absolute(const char *name) {
    const char *value = getenv(name);
    return value && value[0] == '/' ? value : nullptr;  // a relative one is ignored
}

bool join(char *out, size_t size, const char *a, const char *b) {
    int n = snprintf(out, size, "%s%s", a, b);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool state_path(char *out, size_t size) {
    const char *base;
    if ((base = absolute("SORVIT_STATE_DIR"))) return join(out, size, base, "");
    if (geteuid() == 0) return join(out, size, "/var/lib/sorvit", "");
    if ((base = absolute("XDG_STATE_HOME"))) return join(out, size, base, "/sorvit");
    if ((base = absolute("HOME"))) return join(out, size, base, "/.local/state/sorvit");
    return false;
}

bool runtime_path(char *out, size_t size) {
    const char *base;
    if ((base = absolute("SORVIT_RUNTIME_DIR"))) return join(out, size, base, "");
    if (geteuid() == 0) return join(out, size, "/run/sorvit", "");
    if ((base = absolute("XDG_RUNTIME_DIR"))) return join(out, size, base, "/sorvit");
    return state_path(out, size) && join(out + strlen(out), size - strlen(out), "/locks", "");
}

}  // namespace

bool family_folder_path(family_folder which, char *out, size_t size, char *why, size_t why_size) {
    if (which == family_folder::STATE ? state_path(out, size) : runtime_path(out, size))
        return true;
    snprintf(why, why_size, "no %s folder: set SORVIT_%s_DIR, or HOME",
             which == family_folder::STATE ? "state" : "runtime",
             which == family_folder::STATE ? "STATE" : "RUNTIME");
    return false;
}

int open_family_folder(family_folder which, const char *sub, bool make, safe_place *place,
                       char *why, size_t why_size, const safe_place *from) {
    safe_place_clear(place);
    char path[PATH_MAX];
    if (!family_folder_path(which, path, sizeof path, why, why_size)) return ENOENT;
    if (sub[0] && !join(path + strlen(path), sizeof path - strlen(path), "/", sub)) {
        snprintf(why, why_size, "folder name too long: %.200s...", path);
        return ENAMETOOLONG;
    }
    const mode_t mode = geteuid() == 0 ? 0755 : 0700;
    // Nobody else may have a say in any folder on the way, before one is made.
    const unsigned flags = SAFE_WHOLE_FOLDER | SAFE_STRICT | (make ? SAFE_MAKE_FOLDERS : 0u);
    int error = from && sub[0] ? safe_walk(sub, flags, mode, place, from)
                               : safe_walk(path, flags, mode, place);
    if (error == ENOENT && !make) {  // a reader finds nothing: no text to make
        snprintf(why, why_size, "%s", "");
        return error;
    }
    if (error) {
        snprintf(why, why_size, "%s: %s", path, error == EPERM ? place->refused : strerror(error));
        return error;
    }
    // What the family keeps here decides what is written to cards: nobody
    // else may change it.
    if (is_changeable(place->folder_st, false, "folder", place->path, why, why_size)) {
        safe_release(place);
        return EPERM;
    }
    return 0;
}
