#include "bench_report.h"

#include <algorithm>
#include <cstdio>

#include "share_text.h"

namespace varnox::disk_tool {

namespace {

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string FormatBenchTable(std::string_view heading, std::span<const Measure> measures) {
    std::size_t titleWidth = std::string_view("measure").size();
    for (const Measure& measure : measures) titleWidth = std::max(titleWidth, measure.title.size());

    std::string table(heading);
    table += "\n\n";
    table += PadRight("measure", titleWidth) + "  connections  " + PadLeft("block", 7) + "  " +
             PadLeft("requests/s", 11) + "  " + PadLeft("MiB/s", 9) + "\n";
    for (const Measure& measure : measures) {
        table += PadRight(measure.title, titleWidth) + "  " + PadLeft(std::to_string(measure.connections), 11) + "  " +
                 PadLeft(BlockSizeText(measure.block), 7) + "  ";
        if (measure.skipped) {
            table += "skipped: " + *measure.skipped + "\n";
            continue;
        }
        table += PadLeft(Fixed(measure.RequestsPerSecond(), 1), 11) + "  " +
                 PadLeft(Fixed(measure.MiBPerSecond(), 1), 9) + "\n";
    }
    return table;
}

std::string FormatBenchCsv(std::span<const Measure> measures) {
    std::string csv = "key,connections,block,requests,seconds,requests_per_s,mib_per_s\n";
    for (const Measure& measure : measures) {
        csv += measure.key + "," + std::to_string(measure.connections) + "," + std::to_string(measure.block) + ",";
        if (measure.skipped) {
            csv += ",,,\n";
            continue;
        }
        csv += std::to_string(measure.requests) + "," + Fixed(measure.seconds, 3) + "," +
               Fixed(measure.RequestsPerSecond(), 1) + "," + Fixed(measure.MiBPerSecond(), 2) + "\n";
    }
    return csv;
}

}  // namespace varnox::disk_tool
