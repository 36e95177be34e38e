#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

namespace velmora::admin {

enum class Format { text, csv, json };

struct VerifyRequest {
    // A data folder or an envelope file; none means the folder Velmora uses.
    std::optional<std::filesystem::path> path;
};

struct ReportRequest {
    std::optional<std::filesystem::path> data;
    // A business day as typed (see BusinessDays.hpp); none means today.
    std::optional<std::string> day;
    Format format = Format::text;
    // With it, the closing report as the PDF Velmora prints, written there ("-" for standard
    // output) instead of the figures.
    std::optional<std::filesystem::path> pdf;
};

struct OrdersRequest {
    std::optional<std::filesystem::path> data;
    std::optional<std::string> from;
    std::optional<std::string> to;
    Format format = Format::text;
};

struct TicketRequest {
    std::optional<std::filesystem::path> data;
    std::int64_t number = 0;
    // The PDF file to write; "-" for standard output.
    std::filesystem::path output;
};

struct CallRequest {
    // The caller's number as given; its telephone key is checked while parsing.
    std::string number;
};

using Request = std::variant<VerifyRequest, ReportRequest, OrdersRequest, TicketRequest, CallRequest>;

// What the command line asks for, or the exit status when parsing already finished the run: 0
// after printing the help that was asked for, 2 after explaining a misuse on `err`.
using Parsed = std::variant<Request, int>;

Parsed parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace velmora::admin
