#include "phone/EngineErrors.h"

#include <QHash>

#include "window/WindowContext.h"

namespace corvid {

QString engineErrorMessage(int code) {
    static const QHash<int, QString> messages = {
        {10, QStringLiteral("You are not Online, please click the 'Online' button first.")},
        {11, QStringLiteral("Can not open local communication port. Another softphone (x-Ten, x-lite or skype etc) "
                            "is already running. Please close it first.")},
        {12, QStringLiteral("Please Check Your Internet Connection.")},
        {13, QStringLiteral("Fail to initialize task window.")},
        {14, QStringLiteral("Can not access Input/Mic device or device is already in use.")},
        {15, QStringLiteral("Can not access Output/Speaker device or device is already in use.")},
        {16, QStringLiteral("Input/Mic device is not open.")},
        {17, QStringLiteral("Output/Speaker device is not open.")},
        {18, QStringLiteral("Your sound device does not support mic volume.")},
        {19, QStringLiteral("Your sound device does not support speaker volume.")},
        {20, QStringLiteral("Recording media initialization fail.")},
        {21, QStringLiteral("Can not open the wave file.")},
        {22, QStringLiteral("Provided SIP URI is not valid.")},
        {23, QStringLiteral("Codec is not supported.")},
        {24, QStringLiteral("Error to create SDP (Session Description Protocol) request.")},
        {25, QStringLiteral("Error to create CONNECTION request. Please check the provided SIP URI is valid.")},
        {26, QStringLiteral("Error to create REGISTER request. Please check the provided SIP URI is valid.")},
        {27, QStringLiteral("Error to create UN-REGISTER request. Please check the provided SIP URI is valid.")},
        {28, QStringLiteral("Error to create DISCONNECT request.")},
        {29, QStringLiteral("Line No is not valid.")},
        {30, QStringLiteral("Line is already busy.")},
        {31, QStringLiteral("Line is not open.")},
        {32, QStringLiteral("Invalid Call-Id.")},
        {33, QStringLiteral("Provided value is not valid.")},
        {34, QStringLiteral("Selected line is not in voice session.")},
        {35, QStringLiteral("Fail to read wave file.")},
        {36, QStringLiteral("Fail to write wave file.")},
        {37, QStringLiteral("Unsupported wave file format.")},
        {38, QStringLiteral("Error to create CANCEL request.")},
        {39, QStringLiteral("No wave file loaded.")},
    };
    return messages.value(code);
}

void ShowEngineError(WindowContext& ctx) {
    if (!ctx.engine) return;
    const QString text = engineErrorMessage(ctx.engine->LastErrorCode());
    if (!text.isEmpty() && ctx.services.messages) ctx.services.messages->information(ctx.window, text);
}

} // namespace corvid
