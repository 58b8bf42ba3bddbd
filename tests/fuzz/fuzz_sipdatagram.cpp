// The check on what reaches the SIP library's parser: whatever bytes come, it answers; a message it
// lets through is whole, so no part of it cut short is let through (the library's stream parser
// would keep that part and read the next datagram after it).
#include "FuzzCheck.h"
#include "engine/SipDatagram.h"

using corvid::sip_datagram::refusal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    if (!refusal(datagram).empty() || datagram.find_first_not_of("\r\n") == std::string_view::npos) return 0;
    FUZZ_CHECK(datagram.find("\r\n\r\n") != std::string_view::npos);
    for (size_t cut = size > 4096 ? size - 16 : 1; cut < size; ++cut)
        FUZZ_CHECK(!refusal(datagram.substr(0, cut)).empty());
    return 0;
}
