#include "capture/telemetry/key_tables.h"

#include <linux/input-event-codes.h>

namespace tavolu {

const std::map<uint16_t, std::string>& KeyTables::keyUS() {
  static const std::map<uint16_t, std::string> table{
      {0, "A"},   {1, "S"},  {2, "D"},  {3, "F"},  {4, "H"},  {5, "G"},  {6, "Z"},  {7, "X"},
      {8, "C"},   {9, "V"},  {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"},
      {17, "T"},  {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="},
      {25, "9"},  {26, "7"}, {27, "-"}, {28, "8"}, {29, "0"}, {30, "]"}, {31, "O"}, {32, "U"},
      {33, "["},  {34, "I"}, {35, "P"}, {37, "L"}, {38, "J"}, {39, "'"}, {40, "K"}, {41, ";"},
      {42, "\\"}, {43, ","}, {44, "/"}, {45, "N"}, {46, "M"}, {47, "."}, {50, "`"},
  };
  return table;
}

const std::map<uint16_t, std::string>& KeyTables::keySpecial() {
  static const std::map<uint16_t, std::string> table{
      {36, "↩"},  {48, "⇥"},   {49, "Space"}, {51, "⌫"},    {53, "esc"},  {117, "⌦"},   {123, "←"},
      {124, "→"}, {125, "↓"},  {126, "↑"},    {115, "↖"},   {119, "↘"},   {116, "⇞"},   {121, "⇟"},
      {76, "⌤"},  {122, "F1"}, {120, "F2"},   {99, "F3"},   {118, "F4"},  {96, "F5"},   {97, "F6"},
      {98, "F7"}, {100, "F8"}, {101, "F9"},   {109, "F10"}, {103, "F11"}, {111, "F12"},
  };
  return table;
}

std::optional<uint8_t> KeyTables::windowKeyCode(uint16_t virtualCode) {
  // Virtual key code -> evdev key code, by physical position on an ANSI keyboard.
  static const std::map<uint16_t, uint16_t> evdev{
      {0, KEY_A},          {1, KEY_S},           {2, KEY_D},           {3, KEY_F},
      {4, KEY_H},          {5, KEY_G},           {6, KEY_Z},           {7, KEY_X},
      {8, KEY_C},          {9, KEY_V},           {11, KEY_B},          {12, KEY_Q},
      {13, KEY_W},         {14, KEY_E},          {15, KEY_R},          {16, KEY_Y},
      {17, KEY_T},         {18, KEY_1},          {19, KEY_2},          {20, KEY_3},
      {21, KEY_4},         {22, KEY_6},          {23, KEY_5},          {24, KEY_EQUAL},
      {25, KEY_9},         {26, KEY_7},          {27, KEY_MINUS},      {28, KEY_8},
      {29, KEY_0},         {30, KEY_RIGHTBRACE}, {31, KEY_O},          {32, KEY_U},
      {33, KEY_LEFTBRACE}, {34, KEY_I},          {35, KEY_P},          {36, KEY_ENTER},
      {37, KEY_L},         {38, KEY_J},          {39, KEY_APOSTROPHE}, {40, KEY_K},
      {41, KEY_SEMICOLON}, {42, KEY_BACKSLASH},  {43, KEY_COMMA},      {44, KEY_SLASH},
      {45, KEY_N},         {46, KEY_M},          {47, KEY_DOT},        {48, KEY_TAB},
      {49, KEY_SPACE},     {50, KEY_GRAVE},      {51, KEY_BACKSPACE},  {53, KEY_ESC},
      {76, KEY_KPENTER},   {96, KEY_F5},         {97, KEY_F6},         {98, KEY_F7},
      {99, KEY_F3},        {100, KEY_F8},        {101, KEY_F9},        {103, KEY_F11},
      {109, KEY_F10},      {111, KEY_F12},       {115, KEY_HOME},      {116, KEY_PAGEUP},
      {117, KEY_DELETE},   {118, KEY_F4},        {119, KEY_END},       {120, KEY_F2},
      {121, KEY_PAGEDOWN}, {122, KEY_F1},        {123, KEY_LEFT},      {124, KEY_RIGHT},
      {125, KEY_DOWN},     {126, KEY_UP},
  };
  auto it = evdev.find(virtualCode);
  if (it == evdev.end()) return std::nullopt;
  return static_cast<uint8_t>(it->second + 8);
}

}  // namespace tavolu
