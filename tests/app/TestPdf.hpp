#pragma once

// A small, valid PDF with empty pages of chosen sizes, for tests that need PDF bytes from
// somewhere other than the ticket renderer.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

inline pizzacore::Bytes minimalPdf(const std::vector<std::pair<double, double>>& pages) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    const auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i)
        kids += std::to_string(3 + i) + " 0 R ";
    object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (const auto& [width, height] : pages) {
        char box[96];
        std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", width, height);
        object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box + " >>");
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pizzacore::Bytes(pdf.begin(), pdf.end());
}

} // namespace velmora::testing
