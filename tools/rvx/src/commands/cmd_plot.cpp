// rvx plot: SVG or PNG, one panel per channel or the measured channels
// overlaid, over the whole recording or a time window. The records stream
// through once; each channel keeps only a minimum and a maximum per pixel
// column, so the plot stays small however long the recording is.
#include <algorithm>
#include <bit>
#include <cctype>
#include <iostream>
#include <memory>
#include <sstream>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/findings.h"
#include "plots/plot.h"
#include "plots/plot_png.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

enum class PlotFormat { Svg, Png };

// --format, or the output's extension: .png is PNG, anything else SVG.
PlotFormat plotFormat(const std::string& format, const std::string& output) {
  if (format == "svg") return PlotFormat::Svg;
  if (format == "png") return PlotFormat::Png;
  if (!format.empty()) throw usageError("--format: expected svg or png, not " + format);
  std::string extension = output.size() >= 4 ? output.substr(output.size() - 4) : "";
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".png" ? PlotFormat::Png : PlotFormat::Svg;
}

// A multichannel draws one lane per bit; a bit count outside 1 to 32 (a
// damaged header) shows all 32.
int lanesOf(const ChannelInfo& channel) {
  const int32_t bits = channel.multiChannelBits;
  if (bits == 0) return 0;
  return bits >= 1 && bits <= 32 ? bits : 32;
}

// Reads records [span.first, span.end) into one envelope per selected
// channel. Returns false when the data ended before span.end.
bool readPanels(const RecordingInfo& info, const std::vector<int>& selected, RecordSpan span,
                uint32_t width, std::vector<PlotChannel>& panels, RecordReader& reader) {
  panels.clear();
  for (int index : selected) {
    const ChannelInfo& channel = info.channels[index];
    panels.push_back({channel.heading(), lanesOf(channel), ColumnEnvelope(span.count(), width)});
  }
  const size_t channels = info.channels.size();
  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> records(block * std::max<size_t>(1, channels));
  Progress progress("plot", span.end);
  while (const size_t got = reader.read(records.data(), block)) {
    const uint64_t first = reader.delivered() - got;
    for (size_t p = 0; p < panels.size(); ++p) {
      const int k = selected[p];
      ColumnEnvelope& envelope = panels[p].envelope;
      for (size_t i = 0; i < got; ++i) {
        const float value = records[i * channels + k];
        if (panels[p].lanes > 0) {
          envelope.addBits(first + i - span.first, std::bit_cast<uint32_t>(value));
        } else {
          envelope.add(first + i - span.first, value);
        }
      }
    }
    progress.update(reader.delivered());
  }
  progress.finish();
  return reader.delivered() >= span.end;
}

}  // namespace

int runPlot(const PlotOptions& options) {
  if (options.width < 50 || options.width > 20000)
    throw usageError("--width must be 50 to 20000 pixels");
  if (options.panelHeight < 40 || options.panelHeight > 2000) {
    throw usageError("--panel-height must be 40 to 2000 pixels");
  }
  const PlotFormat format = plotFormat(options.format, options.output);
  if (format == PlotFormat::Png && !pngAvailable()) throw usageError(kNoPngText);
  // A malformed window is a usage error before the file is opened.
  recordSpan(options.window, 1, UINT64_MAX);
  refuseSameFile(options.file, options.output);
  Reader source(options.file);
  // The time axis follows the records the data holds, not a count that
  // claims more.
  const uint64_t available = requireReadable(source, options.allRecords).toRead;
  const RecordingInfo info = source.info();
  const std::vector<int> selected = selectChannels(info, options.channels);
  RecordSpan span = recordSpan(options.window, info.scanInterval, available);
  Output out(options.output, existingFrom(options.force));

  std::vector<PlotChannel> panels;
  auto reader = std::make_unique<RecordReader>(source, span.first, span.end);
  if (!readPanels(info, selected, span, options.width, panels, *reader)) {
    // Layouts whose length does not tell their records end on reading:
    // read again up to where the data ends.
    std::cerr << "rvx: " << options.file << ": warning: " << shortfallText(*reader, span.end)
              << '\n';
    if (reader->delivered() <= span.first) {
      throw ToolError(options.file + ": the data ends before the window: " +
                      std::to_string(reader->delivered()) + " records read");
    }
    span.end = reader->delivered();
    reader = std::make_unique<RecordReader>(source, span.first, span.end);
    readPanels(info, selected, span, options.width, panels, *reader);
  }

  std::string title = options.file;
  if (!info.nameMeasurement.empty()) title += " - " + info.nameMeasurement;
  title += " (" + info.date + " " + info.time + ")";
  PlotTime time;
  time.firstRecord = span.first;
  time.interval = info.scanInterval > 0 ? static_cast<double>(info.scanInterval) / 1e6 : 0;
  // 0 is what a header without a trigger holds.
  if (info.triggerRecord > 0) time.trigger = info.triggerRecord;
  PlotLayout layout;
  layout.plotWidth = options.width;
  layout.panelHeight = options.panelHeight;
  layout.overlay = options.overlay;
  const Drawing drawing = drawPlot(title, time, panels, layout);
  if (format == PlotFormat::Png) {
    out.write(renderPng(drawing));
  } else {
    std::ostringstream svg;
    writeSvg(svg, drawing);
    out.write(svg.str());
  }
  out.commit();
  return kExitOk;
}

namespace {

Run addPlotOptions(CLI::App& command) {
  auto options = std::make_shared<PlotOptions>();
  command.add_option("FILE", options->file, "RVX file")->required();
  command
      .add_option("-o,--output", options->output,
                  "SVG or PNG file (by its extension), or - for standard output, e.g. -o run.png")
      ->required();
  command.add_option("--format", options->format,
                     "svg or png, whatever the output's name (default: png for a name ending in "
                     ".png, else svg), e.g. --format png -o -");
  command
      .add_option("--channels", options->channels,
                  "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  addTimeWindowOptions(command, options->window);
  command.add_flag("--overlay", options->overlay,
                   "Measured channels in one panel with a legend, e.g. --overlay --channels p1,p2");
  command.add_option("--width", options->width,
                     "Pixels of the time axis (default 900), e.g. --width 1600");
  command.add_option("--panel-height", options->panelHeight,
                     "Pixels per panel (default 150), e.g. --panel-height 300");
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.footer(
      "A multichannel is drawn as one lane per bit, NaN and infinite values are marked, and a\n"
      "trigger record is a dashed line.\n"
      "Example: rvx plot run.rvx -o run.png --channels p1,p2 --overlay --from 2 --to 2.5");
  return [options] { return runPlot(*options); };
}

}  // namespace

extern const Subcommand kPlotSubcommand{
    "plot", "SVG or PNG plot, one panel per channel or overlaid", addPlotOptions};

}  // namespace rvx
