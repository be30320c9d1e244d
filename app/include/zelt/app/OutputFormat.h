#pragma once

// The forms a scan, a watch or a raw request is printed in.

namespace zelt::app {

// Text for people, JSON for programs, CSV for spreadsheets (a watch only).
enum class OutputFormat { Text, Json, Csv };

}  // namespace zelt::app
