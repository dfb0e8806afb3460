#include "folder_images.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cards.h"
#include "number.h"
#include "report.h"
#include "safe_path.h"

namespace {

// N of "card-N.img", written as save writes it: no sign, no leading zero.
bool id_of_image(const char *name, uint32_t *id) {
    if (strncmp(name, "card-", 5) != 0) return false;
    const char *digits = name + 5, *end = digits;
    while (*end >= '0' && *end <= '9') end++;
    number_read r;
    if (strcmp(end, ".img") != 0 || (digits[0] == '0' && end - digits > 1) ||
        !read_number(digits, end, 0, &r))
        return false;
    *id = r.value;
    return true;
}

int ascending(const void *a, const void *b) {
    uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y;
}

bool push(id_list *list, size_t *capacity, uint32_t id) {
    if (list->count == *capacity) {
        size_t grown = *capacity ? *capacity * 2 : 16;
        void *more = reallocarray(list->ids, grown, sizeof *list->ids);
        if (!more) return false;
        list->ids = static_cast<uint32_t *>(more);
        *capacity = grown;
    }
    list->ids[list->count++] = id;
    return true;
}

// The IDs of the cards found, ascending, to look the images' up in.
bool known_ids(const card_list &cards, id_list *known) {
    size_t capacity = 0;
    for (size_t k = 0; k < cards.count; k++)
        if (cards.cards[k].has_info && !push(known, &capacity, cards.cards[k].card_id))
            return false;
    if (known->count) qsort(known->ids, known->count, sizeof *known->ids, ascending);
    return true;
}

DIR *open_folder(const char *folder, failure_log *log) {
    safe_place place;
    int error = safe_walk(folder, SAFE_WHOLE_FOLDER, 0, &place);
    int fd = error ? -1 : openat(place.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!error && fd < 0) error = errno;
    safe_release(&place);
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (fd >= 0 && !dir) {
        error = errno;
        close(fd);
    }
    if (!dir)
        log_failure(log, "Cannot read folder %s: %s\n", folder,
                    error == EPERM ? place.refused : strerror(error));
    return dir;
}

}  // namespace

bool images_without_cards(const char *folder, const card_list &cards, id_list *out,
                          failure_log *log) {
    *out = id_list{};
    id_list known{};
    DIR *dir = open_folder(folder, log);
    if (!dir) return false;
    bool ok = known_ids(cards, &known);
    size_t capacity = 0;
    uint32_t id;
    errno = 0;
    for (const dirent *entry; ok && (entry = readdir(dir));)
        if (id_of_image(entry->d_name, &id) &&
            !(known.count && bsearch(&id, known.ids, known.count, sizeof id, ascending)))
            ok = push(out, &capacity, id);
    if (ok && errno != 0) log_failure(log, "Cannot read folder %s: %s\n", folder, strerror(errno));
    else if (!ok) log_failure(log, "Out of memory reading folder %s\n", folder);
    ok = ok && errno == 0;
    closedir(dir);
    free_ids(&known);
    if (ok && out->count) qsort(out->ids, out->count, sizeof *out->ids, ascending);
    if (!ok) free_ids(out);
    return ok;
}

bool card_image_path(const char *folder, uint32_t card_id, char *out, size_t size) {
    int n = snprintf(out, size, "%s/card-%lu.img", folder, static_cast<unsigned long>(card_id));
    return n >= 0 && static_cast<size_t>(n) < size;
}

void free_ids(id_list *list) {
    free(list->ids);
    *list = id_list{};
}
