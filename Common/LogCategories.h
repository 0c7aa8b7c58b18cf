#pragma once
// The engine's log categories: a line is written only when its category is
// enabled in the logger's table.

namespace LogCategory {

constexpr const char* UpdateManager = "update_manager";
constexpr const char* Install = "install";
constexpr const char* Timing = "timing";
constexpr const char* Description = "description";
constexpr const char* Web = "web";
constexpr const char* Download = "download";
constexpr const char* External = "external";

} // namespace LogCategory
