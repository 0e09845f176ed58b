// The desktop program's start before any window: the run options, or the error that ends it.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "startup/run_options.h"

namespace quillmere {

// SettleRunOptions for the window program: a registry value of another type is shown through
// `show_error` and gives nullopt (the program then ends before any window).
std::optional<RunOptions> SettleRunOptionsOrReport(
    std::string_view exe_path, std::span<const std::string> args, const std::string& registry_path,
    const std::function<void(const QString&)>& show_error);

}  // namespace quillmere
