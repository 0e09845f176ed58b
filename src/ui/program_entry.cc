#include "ui/program_entry.h"

#include "db/qt_text.h"

namespace quillmere {

std::optional<RunOptions> SettleRunOptionsOrReport(
    std::string_view exe_path, std::span<const std::string> args, const std::string& registry_path,
    const std::function<void(const QString&)>& show_error) {
  try {
    return SettleRunOptions(exe_path, args, registry_path);
  } catch (const RegistryError& e) {
    show_error(FromRecordText(e.what()));
    return std::nullopt;
  }
}

}  // namespace quillmere
