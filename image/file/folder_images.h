// The images of a +all folder: card-ID.img for each card, the ID in decimal
// (it stays with the card when cards move between slots), so that an image
// whose card is not on the host is seen rather than passed over.
#ifndef IMAGE_FILE_FOLDER_IMAGES_H
#define IMAGE_FILE_FOLDER_IMAGES_H

#include <cstddef>
#include <cstdint>

#include "image_file.h"

// The name of a card's image, CARD_IMAGE_PREFIX, the ID, CARD_IMAGE_SUFFIX.
constexpr char CARD_IMAGE_PREFIX[] = "card-";
constexpr char CARD_IMAGE_SUFFIX[] = ".img";
// The longest name, with its NUL: the ID has at most 10 digits.
constexpr size_t CARD_IMAGE_NAME_SIZE =
    sizeof CARD_IMAGE_PREFIX + 10 + sizeof CARD_IMAGE_SUFFIX - 1;

struct id_list {
    uint32_t *ids;  // owned, ascending
    size_t count;
};

// The IDs N of the files card-N.img in the folder that known (ascending)
// does not hold; false, with err set, when the folder cannot be read or
// memory runs out.
bool images_without_cards(const safe_place &folder, const char *shown, const id_list &known,
                          id_list *out, image_error *err);
// Adds an ID; false when memory runs out. sort_ids puts them in order.
bool push_id(id_list *list, uint32_t id);
void sort_ids(id_list *list);
void free_ids(id_list *list);

// Removes the temporary files of card images that killed saves left there.
void remove_stale_card_temps(const safe_place &folder);

// FOLDER/card-ID.img; false when it does not fit in size bytes.
bool card_image_path(const char *folder, uint32_t card_id, char *out, size_t size);

#endif
