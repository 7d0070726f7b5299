#include "rules.h"

#include "net/message.h"

bool is_drawing_type(int type) { return drawing_fixed_size(type) >= 0; }

int drawing_fixed_size(int type) {
  const CommandLayout* layout = command_layout(type);
  return layout ? command_fixed_size(*layout) : -1;
}

static int read_coordinate(const uint8_t* p) { return int16_t(uint16_t(p[0] | (p[1] << 8))); }

int validate_drawing(int type, const uint8_t* payload, size_t length) {
  int fixed = drawing_fixed_size(type);
  if (fixed < 0 || length <= size_t(fixed)) return 0;
  size_t rest = length - size_t(fixed);
  if (rest % 4 != 0 || rest / 4 > size_t(MAX_POINTS)) return 0;
  for (const uint8_t* p = payload + fixed; p < payload + length; p += 4) {
    int x = read_coordinate(p), y = read_coordinate(p + 2);
    if (x < POINT_X_MIN || x > POINT_X_MAX || y < POINT_Y_MIN || y > POINT_Y_MAX) return 0;
  }
  return 1;
}

int validate_chat(const uint8_t* payload, size_t length) {
  if (length < 2 || length - 2 > size_t(MAX_CHAT_CHARS)) return 0;
  for (size_t i = 1; i + 1 < length; i++)
    if (payload[i] == 0) return 0;
  return payload[length - 1] == 0;
}

int split_strings(const uint8_t* payload, size_t length, std::string* out, int count) {
  size_t pos = 0;
  for (int i = 0; i < count; i++) {
    size_t start = pos;
    while (pos < length && payload[pos] != 0) pos++;
    if (pos == length) return 0;
    out[i].assign(reinterpret_cast<const char*>(payload + start), pos - start);
    pos++;
  }
  return pos == length;
}

std::string clean_text(const std::string& text, size_t max_chars) {
  std::string out;
  for (char c : text) {
    if (out.size() >= max_chars) break;
    if (is_printable(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

static std::string trim_blanks(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::string clean_name(const std::string& raw) {
  std::string name =
      trim_blanks(clean_text(trim_blanks(clean_text(raw, raw.size())), MAX_NAME_CHARS));
  return name.empty() ? "guest" : name;
}
