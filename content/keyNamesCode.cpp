// Key code names: a fixed table, with the character of the code itself for everything else.
#include "content/keyNamesCode.h"

#include "platform/input/gamePads.h"

namespace {

struct TkeyName {
    uint16_t code;
    const char* label;
};

constexpr TkeyName namedKeys[] = {
    {8, "BKSP"},    {12, "NUM5"},   {13, "ENT"},    {16, "SHFT"},   {17, "CTRL"},   {18, "ALT"},
    {19, "PBRK"},   {20, "CAPS"},   {23, "CTRL"},   {27, "ESC"},    {32, "SPACE"},  {33, "PGUP"},
    {34, "PGDN"},   {35, "END"},    {36, "HOME"},   {37, "LEFT"},   {38, "UP"},     {39, "RIGHT"},
    {40, "DOWN"},   {45, "INS"},    {46, "DEL"},    {91, "WINL"},   {92, "WINR"},   {93, "RMB"},
    {106, "NUM*"},  {107, "NUM+"},  {109, "NUM-"},  {110, "NUM."},  {111, "NUM/"},  {144, "NUMLK"},
    {145, "SCRL"},  {176, "M_SK"},  {177, "M_BK"},  {178, "M_ST"},  {179, "M_PL"},  {186, ";"},
    {187, "="},     {188, ","},     {189, "-"},     {190, "."},     {191, "/"},     {192, "'"},
    {219, "["},     {220, "\\"},    {221, "]"},     {222, "#"},     {223, "\xEF\xBD\xAC"},
};

constexpr uint16_t numpadFirst = 96;
constexpr uint16_t numpadLast = 105;
constexpr uint16_t functionFirst = 112;
constexpr uint16_t functionLast = 123;

// UTF-8 of one UTF-16 code unit; a lone surrogate has no character and shows as U+FFFD.
std::string characterOf(uint16_t code) {
    if (code >= 0xD800 && code <= 0xDFFF) return "\xEF\xBF\xBD";
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

// Built by appending: GCC 12 at -O3 warns falsely about a literal added in front of a string.
std::string prefixedNumber(const char* prefix, int number) {
    std::string label = prefix;
    label += std::to_string(number);
    return label;
}

// Pads and buttons counted from 1, as players count them: "Pad 1 B12".
std::string padButtonLabel(uint16_t code) {
    const TpadButton pad = padButtonOf(code);
    std::string label = prefixedNumber("Pad ", pad.pad + 1);
    label += prefixedNumber(" B", pad.button + 1);
    return label;
}

}  // namespace

std::string keyLabel(uint16_t code) {
    if (isPadKey(code)) return padButtonLabel(code);
    for (const TkeyName& key : namedKeys) {
        if (key.code == code) return key.label;
    }
    if (code >= numpadFirst && code <= numpadLast) return prefixedNumber("NUM", code - numpadFirst);
    if (code >= functionFirst && code <= functionLast) return prefixedNumber("F", code - functionFirst + 1);
    return characterOf(code);
}
