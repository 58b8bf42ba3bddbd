#pragma once
#include <QString>

namespace corvid {

struct WindowContext;

// The agent-facing message for an engine error code; empty for codes outside the table.
QString engineErrorMessage(int code);

// Asks the engine for its last error code and shows the matching message (nothing for other codes).
void ShowEngineError(WindowContext& ctx);

} // namespace corvid
