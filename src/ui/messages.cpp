#include "ui/messages.h"

#include <cstdarg>
#include <cstdio>

namespace floppyset {
namespace {

MessageLoader g_loader = nullptr;  // set once at start-up, before any thread

#if !defined(_WIN32)
struct MessageEntry {
  int id;
  const char* text;
};

constexpr MessageEntry kMessages[] = {
#define FLOPPYSET_MESSAGE(id, symbol, text) {id, text},
#include "messages.def"
#undef FLOPPYSET_MESSAGE
};
#endif

std::string FormatArguments(const char* format, va_list args) {
  char buffer[kTextLimit];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

}  // namespace

void SetMessageLoader(MessageLoader loader) {
  g_loader = loader;
}

std::string LoadMessage(int id) {
  if (g_loader) return g_loader(id);
#if !defined(_WIN32)
  for (const auto& entry : kMessages) {
    if (entry.id == id) return entry.text;
  }
#endif
  return std::string();
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatArguments(format, args);
  va_end(args);
  return out;
}

std::string FormatMessageId(int id, ...) {
  const std::string format = LoadMessage(id);
  va_list args;
  va_start(args, id);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  std::string out = FormatArguments(format.c_str(), args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  va_end(args);
  return out;
}

void ShowStop(Ui& ui, std::string text) {
  ui.ShowMessage({0, std::move(text), "SETUP", Buttons::kOk, Icon::kStop, Owner::kNone});
}

std::string FormatSize(int64_t count) {
  struct Unit {
    int64_t size;
    int message;
  };
  static constexpr Unit kUnits[] = {{int64_t{1} << 30, kMsgUnitGigabytes},
                                    {int64_t{1} << 20, kMsgUnitMegabytes},
                                    {int64_t{1} << 10, kMsgUnitKilobytes},
                                    {1, kMsgUnitBytes}};
  for (const Unit& unit : kUnits) {
    if (count >= unit.size || unit.size == 1) {
      const double value = static_cast<double>(count) / static_cast<double>(unit.size);
      const bool exact = count % unit.size == 0;
      return FormatText(exact ? "%.0f %s" : "%.2f %s", value, LoadMessage(unit.message).c_str());
    }
  }
  return std::string();
}

bool CheckFreeSpace(Host& host, const std::string& root, uint64_t required, uint64_t& free_bytes) {
  const auto available = host.FreeBytes(root);
  if (!available || *available >= required) return true;
  free_bytes = *available;
  return false;
}

bool PathExists(Host& host, const std::string& path, bool must_be_directory) {
  const auto attributes = host.Attributes(path);
  if (!attributes) return false;
  return !must_be_directory || (*attributes & kAttrDirectory) != 0;
}

}  // namespace floppyset
