#include "Simdcsrules.h"

#include "Simout.h"

#include <algorithm>

namespace sim {

namespace {

// What the program keeps of a record, and so what its replies can echo.
constexpr std::size_t kLinesKept = 5000; // lines of its label table
constexpr std::size_t kLineKept = 499;   // characters of a line
constexpr std::size_t kValueKept = 99;   // characters of REQ, ANS, JOB, MODEL
constexpr std::size_t kOfferKept = 49;   // characters of a format offer
constexpr std::size_t kOffersKept = 50;  // offers of one label

// The trace formats the program accepts, in its order of preference (without
// FORMATODCS=4): decimal text, then packed binary.
const char* const kTraceFormats[] = {
    "1;1000;E;B", "1;1440;E;B", "1;800;E;B", "1;512;E;B", "1;500;E;B", "1;400;E;B",
    "4;1000;E;B", "4;1440;E;B", "4;800;E;B", "4;512;E;B", "4;500;E;B", "4;400;E;B",
};

struct RecordLabels {
    std::string req;
    std::string ans;
    std::string job;
    std::vector<std::string> traceOffers;
    std::vector<std::string> zOffers;
};

RecordLabels labelsOf(const std::vector<std::string>& lines) {
    RecordLabels labels;
    bool seenReq = false;
    bool seenAns = false;
    bool seenJob = false;
    const std::size_t count = std::min(lines.size(), kLinesKept);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string line = lines[i].substr(0, kLineKept);
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string label = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        const auto first = [&](const char* name, bool& seen, std::string& out) {
            if (label == name && !seen) {
                seen = true;
                out = value.substr(0, kValueKept);
            }
        };
        first("REQ", seenReq, labels.req);
        first("ANS", seenAns, labels.ans);
        first("JOB", seenJob, labels.job);
        if (label == "TRCFMT" && labels.traceOffers.size() < kOffersKept)
            labels.traceOffers.push_back(value.substr(0, kOfferKept));
        if (label == "ZFMT" && labels.zOffers.size() < kOffersKept)
            labels.zOffers.push_back(value.substr(0, kOfferKept));
    }
    return labels;
}

bool offered(const std::vector<std::string>& offers, const std::string& format) {
    return std::find(offers.begin(), offers.end(), format) != offers.end();
}

std::vector<std::string> statusReply(const std::string& word, const char* status,
                                     const std::string& job) {
    std::vector<std::string> reply = {"ANS=" + word, std::string("STATUS=") + status};
    if (!job.empty())
        reply.push_back("JOB=" + job);
    return reply;
}

std::vector<std::string> negotiation(const RecordLabels& labels) {
    const std::string word = labels.ans == "INI" ? "INI" : labels.req;
    if (labels.traceOffers.empty())
        return statusReply(word, "18", "");
    std::string trace;
    std::string z;
    if (chooseTraceFormat(labels.traceOffers, labels.zOffers, trace, z) != 0)
        return statusReply(word, "17", "");
    std::vector<std::string> reply = {"ANS=" + word, "STATUS=0", "DEF=;1234", "TRCFMT=" + trace};
    if (!labels.zOffers.empty())
        reply.push_back("ZFMT=" + z);
    return reply;
}

} // namespace

uint16_t crc16Xmodem(const std::string& bytes) {
    constexpr uint16_t kPolynomial = 0x1021; // x^16 + x^12 + x^5 + 1
    uint16_t crc = 0;
    for (const char c : bytes) {
        crc = static_cast<uint16_t>(crc ^ (static_cast<unsigned char>(c) << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000u) != 0 ? (crc << 1) ^ kPolynomial : crc << 1);
    }
    return crc;
}

std::string tracerRecord(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    text += kRs;
    return std::string(1, kFs) + text + "CRC=" + decimal(crc16Xmodem(text)) + "\r\n" + kGs;
}

std::string replyMessage(const std::vector<std::string>& reply, uint16_t& crc) {
    std::string text;
    for (const std::string& line : reply)
        text += line + "\r\n";
    text += kRs;
    crc = crc16Xmodem(text);
    return std::string{kAckByte, kFs} + text + "CRC=" + decimal(crc) + "\r\n" + kGs;
}

bool expectedReplyLines(const std::vector<std::string>& lines, std::vector<std::string>& reply) {
    const RecordLabels labels = labelsOf(lines);
    if (labels.req == "INI") {
        reply = statusReply("INI", "0", "");
    } else if (labels.req == "1" && labels.traceOffers.size() == 1 && labels.zOffers.size() == 1) {
        reply = {"ANS=1", "JOB=" + labels.job, "STATUS=0", "TRCFMT=1;1000;E;B", "ZFMT=1;1000;E;B"};
    } else if (labels.req == "1234" || labels.req == "1212") {
        reply = statusReply(labels.req, "0", labels.job);
    } else if (labels.req == "DNL") {
        reply = statusReply("DNL", "5", "");
    } else if (labels.ans == "INI" || labels.req == "TRC") {
        reply = negotiation(labels);
    } else if (labels.ans == "1234" || labels.ans == "TRC" || labels.ans == "1212" ||
               labels.ans == "1") {
        reply = statusReply(labels.ans, "0", labels.job);
    } else {
        reply.clear();
        return false;
    }
    return true;
}

int chooseTraceFormat(const std::vector<std::string>& offers,
                      const std::vector<std::string>& zOffers, std::string& trace, std::string& z) {
    trace.clear();
    z.clear();
    for (const char* format : kTraceFormats) {
        if (offered(offers, format)) {
            trace = format;
            break;
        }
    }
    if (trace.empty())
        return 1;
    if (zOffers.empty())
        return 0;
    if (offered(zOffers, trace)) {
        z = trace;
        return 0;
    }
    for (const char* format : kTraceFormats) {
        if (offered(zOffers, format)) {
            z = format;
            return 0;
        }
    }
    return 1;
}

} // namespace sim
