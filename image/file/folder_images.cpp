#include "folder_images.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"
#include "number.h"

namespace {

// N of "card-N.img", written as save writes it: no sign, no leading zero.
bool id_of_image(const char *name, uint32_t *id) {
    if (strncmp(name, CARD_IMAGE_PREFIX, sizeof CARD_IMAGE_PREFIX - 1) != 0) return false;
    const char *digits = name + sizeof CARD_IMAGE_PREFIX - 1, *end = digits;
    while (*end >= '0' && *end <= '9') end++;
    number_read r;
    if (strcmp(end, CARD_IMAGE_SUFFIX) != 0 || (digits[0] == '0' && end - digits > 1) ||
        !read_number(digits, end, 0, &r))
        return false;
    *id = r.value;
    return true;
}

// Whether the first length bytes of name are a card image's name.
bool is_card_image_name(const char *name, size_t length) {
    char copy[CARD_IMAGE_NAME_SIZE];
    uint32_t id;
    if (length >= sizeof copy) return false;
    memcpy(copy, name, length);
    copy[length] = '\0';
    return id_of_image(copy, &id);
}

int ascending(const void *a, const void *b) {
    uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y;
}

DIR *open_folder(const safe_place &folder, const char *shown, image_error *err) {
    int fd = openat(folder.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (fd >= 0 && !dir) {
        error = errno;
        close(fd);
    }
    if (!dir) set_image_error(err, "Cannot read folder %s: %s", shown, strerror(error));
    return dir;
}

}  // namespace

bool push_id(id_list *list, uint32_t id) {
    // The capacity is the next power of two at or above the count.
    const size_t count = list->count;
    if (count == 0 || (count & (count - 1)) == 0) {
        void *more = reallocarray(list->ids, count ? count * 2 : 16, sizeof *list->ids);
        if (!more) return false;
        list->ids = static_cast<uint32_t *>(more);
    }
    list->ids[list->count++] = id;
    return true;
}

void sort_ids(id_list *list) {
    if (list->count) qsort(list->ids, list->count, sizeof *list->ids, ascending);
}

bool images_without_cards(const safe_place &folder, const char *shown, const id_list &known,
                          id_list *out, image_error *err) {
    *out = id_list{};
    DIR *dir = open_folder(folder, shown, err);
    if (!dir) return false;
    bool ok = true;
    uint32_t id;
    errno = 0;
    for (const dirent *entry; ok && (entry = readdir(dir));)
        if (id_of_image(entry->d_name, &id) &&
            !(known.count && bsearch(&id, known.ids, known.count, sizeof id, ascending)))
            ok = push_id(out, id);
    if (ok && errno != 0) set_image_error(err, "Cannot read folder %s: %s", shown, strerror(errno));
    else if (!ok) set_image_error(err, "Out of memory reading folder %s", shown);
    ok = ok && errno == 0;
    closedir(dir);
    if (ok) sort_ids(out);
    else free_ids(out);
    return ok;
}

bool card_image_path(const char *folder, uint32_t card_id, char *out, size_t size) {
    int n = snprintf(out, size, "%s/%s%lu%s", folder, CARD_IMAGE_PREFIX,
                     static_cast<unsigned long>(card_id), CARD_IMAGE_SUFFIX);
    return n >= 0 && static_cast<size_t>(n) < size;
}

void free_ids(id_list *list) {
    free(list->ids);
    *list = id_list{};
}

void remove_stale_card_temps(const safe_place &folder) {
    atomic_remove_temps(&folder, TEMP_SUFFIX, is_card_image_name);
}
