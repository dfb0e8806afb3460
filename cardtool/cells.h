// How the family writes a card and its EEPROM locations as text, in one
// place: sorvit's dump and read, sorvit-image's images, changes and
// comparisons, and the image reader, which takes back what these write.
#ifndef CARDTOOL_CELLS_H
#define CARDTOOL_CELLS_H

#include <cstdint>
#include <cstdio>

// How the family names a card: "N(0xN)"; list's ID column spaces it,
// "N (0xN)".
struct card_label {
    char text[32];
};
enum class label_style { COMPACT, SPACED };
inline card_label label_of(uint32_t card_id, label_style style = label_style::COMPACT) {
    card_label label;
    snprintf(label.text, sizeof label.text,
             style == label_style::SPACED ? "%lu (0x%lx)" : "%lu(0x%lx)",
             static_cast<unsigned long>(card_id), static_cast<unsigned long>(card_id));
    return label;
}

// The card line, "Selected card ID is N(0xN)": the dump's first line, which
// an image may hold to name its card.
constexpr char CARD_LINE_PREFIX[] = "Selected card ID is ";
struct card_line_text {
    char text[sizeof CARD_LINE_PREFIX + sizeof(card_label)];
};
inline card_line_text card_line(uint32_t card_id) {
    card_line_text line;
    snprintf(line.text, sizeof line.text, "%s%s", CARD_LINE_PREFIX, label_of(card_id).text);
    return line;
}

// A value as the dump shows it, "0x" and at least digits upper-case
// hexadecimal digits (4 or 8, as the word is wide); null for a value whose
// read failed: a question mark for each digit.
struct value_text {
    char text[16];
};
inline value_text format_value(const uint32_t *value, int digits) {
    value_text v;
    if (value)
        snprintf(v.text, sizeof v.text, "0x%0*lX", digits, static_cast<unsigned long>(*value));
    else snprintf(v.text, sizeof v.text, "0x%s", digits == 8 ? "????????" : "????");
    return v;
}

// A cell, "[0xNN] = 0xVALUE": the dump's, an image's, a change's. The
// location has two upper-case digits at least, the value as format_value
// gives it.
constexpr char CELL_SYNTAX[] = "[0xNN] = 0xVALUE";  // how messages show it
struct cell_text {
    char text[40];
};
inline cell_text format_cell(uint32_t location, const uint32_t *value, int digits) {
    cell_text cell;
    snprintf(cell.text, sizeof cell.text, "[0x%02lX] = %s", static_cast<unsigned long>(location),
             format_value(value, digits).text);
    return cell;
}

// sorvit's read of one location writes its cell in lower case, the
// location without a minimum width.
inline cell_text format_read_cell(uint32_t location, uint32_t value, int digits) {
    cell_text cell;
    snprintf(cell.text, sizeof cell.text, "[0x%0lx] = 0x%0*lx",
             static_cast<unsigned long>(location), digits, static_cast<unsigned long>(value));
    return cell;
}

#endif
