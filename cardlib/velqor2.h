/*
 * velqor2.h - the card-access library's C interface.
 *
 * This header is all that sorvit knows of the library. Any library that
 * exports these seven operations with this ABI (ours in cardsim/, or the
 * card maker's own) can be linked in, or swapped in at run time.
 */
#ifndef VELQOR2_H
#define VELQOR2_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VELQOR2_BUILDING_LIBRARY) && defined(__GNUC__)
#define VELQOR2_API __attribute__((visibility("default")))
#else
#define VELQOR2_API
#endif

typedef uint64_t VELQOR2_HANDLE; /* opaque; 0 means no card is open */
typedef uint32_t VELQOR2_STATUS; /* 0 is success, anything else a failure */
#define VELQOR2_SUCCESS ((VELQOR2_STATUS)0)

typedef struct VELQOR2_CARD_INFO {
    uint32_t card_id;       /* byte 0 */
    uint32_t card_index;    /* byte 4 */
    int32_t board_type;     /* byte 8 */
    uint32_t serial_number; /* byte 12 */
    uint32_t eeprom_words;  /* byte 16 */
    char model_name[44];    /* byte 20, NUL-terminated */
} VELQOR2_CARD_INFO;        /* 64 bytes */

/* The record's layout is part of the ABI: pin it. */
#ifdef __cplusplus
#define VELQOR2_STATIC_ASSERT static_assert
#else
#define VELQOR2_STATIC_ASSERT _Static_assert
#endif
VELQOR2_STATIC_ASSERT(sizeof(VELQOR2_CARD_INFO) == 64, "VELQOR2_CARD_INFO is 64 bytes");
VELQOR2_STATIC_ASSERT(offsetof(VELQOR2_CARD_INFO, card_id) == 0, "card_id at byte 0");
VELQOR2_STATIC_ASSERT(offsetof(VELQOR2_CARD_INFO, card_index) == 4, "card_index at byte 4");
VELQOR2_STATIC_ASSERT(offsetof(VELQOR2_CARD_INFO, board_type) == 8, "board_type at byte 8");
VELQOR2_STATIC_ASSERT(offsetof(VELQOR2_CARD_INFO, serial_number) == 12, "serial_number at byte 12");
VELQOR2_STATIC_ASSERT(offsetof(VELQOR2_CARD_INFO, eeprom_words) == 16, "eeprom_words at byte 16");
VELQOR2_STATIC_ASSERT(offsetof(VELQOR2_CARD_INFO, model_name) == 20, "model_name at byte 20");
#undef VELQOR2_STATIC_ASSERT

/* Opens a card. On failure *handle is left untouched. */
VELQOR2_API VELQOR2_STATUS VELQOR2_OpenCard(uint32_t card_id, VELQOR2_HANDLE *handle);
VELQOR2_API VELQOR2_STATUS VELQOR2_OpenCardByIndex(uint32_t index, VELQOR2_HANDLE *handle);

VELQOR2_API VELQOR2_STATUS VELQOR2_GetCardInfo(VELQOR2_HANDLE handle, VELQOR2_CARD_INFO *info);

/* One EEPROM word; the value is always handed over as 32 bits. */
VELQOR2_API VELQOR2_STATUS VELQOR2_ReadConfig(VELQOR2_HANDLE handle, uint32_t location,
                                              uint32_t *value);
VELQOR2_API VELQOR2_STATUS VELQOR2_WriteConfig(VELQOR2_HANDLE handle, uint32_t location,
                                               uint32_t value);

VELQOR2_API VELQOR2_STATUS VELQOR2_CloseCard(VELQOR2_HANDLE handle);

/* Never null; the text is owned by the library. */
VELQOR2_API const char *VELQOR2_GetStatusString(VELQOR2_STATUS status);

#ifdef __cplusplus
}
#endif

#endif /* VELQOR2_H */
