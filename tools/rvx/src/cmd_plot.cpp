// rvx plot: a quick-look SVG, one panel per channel. The records stream
// through once; each channel keeps only a minimum and a maximum per pixel
// column, so the SVG stays small however long the recording is.
#include <bit>
#include <iostream>
#include <sstream>

#include "claims.h"
#include "commands.h"
#include "output_file.h"
#include "plot.h"
#include "subcommand.h"
#include "terminal.h"
#include "tool_error.h"

namespace rvx {

int runPlot(const PlotOptions& options) {
  if (options.width < 50 || options.width > 20000) throw usageError("--width must be 50 to 20000 pixels");
  if (options.panelHeight < 40 || options.panelHeight > 2000) {
    throw usageError("--panel-height must be 40 to 2000 pixels");
  }
  refuseSameFile(options.file, options.output);
  ReadSession session(options.file);
  RecordingInfo info = queryRecording(session);
  info.records = countRecords(options.file, info.records, options.allRecords).toRead;
  const std::vector<int> selected = selectChannels(info, options.channels);
  const size_t channels = info.channels.size();
  Output out(options.output, existingFrom(options.force));

  std::vector<PlotChannel> panels;
  for (int index : selected) {
    panels.push_back({info.channels[index].heading(), ColumnEnvelope(info.records, options.width)});
  }
  RecordReader reader(channels, info.records);
  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> records(block * std::max<size_t>(1, channels));
  Progress progress("plot", info.records);
  while (const size_t got = reader.read(records.data(), block)) {
    const uint64_t first = reader.delivered() - got;
    for (size_t p = 0; p < panels.size(); ++p) {
      const int k = selected[p];
      const bool bits = info.channels[k].multiChannelBits != 0;
      ColumnEnvelope& envelope = panels[p].envelope;
      for (size_t i = 0; i < got; ++i) {
        const float value = records[i * channels + k];
        // A multichannel's bit field is drawn as the unsigned number it is.
        envelope.add(first + i, bits ? static_cast<float>(std::bit_cast<uint32_t>(value)) : value);
      }
    }
    progress.update(reader.delivered());
  }
  progress.finish();

  std::string title = options.file;
  if (!info.nameMeasurement.empty()) title += " - " + info.nameMeasurement;
  title += " (" + info.date + " " + info.time + ")";
  PlotLayout layout;
  layout.plotWidth = options.width;
  layout.panelHeight = options.panelHeight;
  std::ostringstream svg;
  writePlotSvg(svg, title, static_cast<double>(info.scanInterval) / 1e6, panels, layout);
  out.write(svg.str());
  out.commit();
  const std::string shortfall = shortfallText(reader, info.records);
  if (!shortfall.empty()) std::cerr << "rvx: " << options.file << ": warning: " << shortfall << '\n';
  return kExitOk;
}

namespace {

Run addPlotOptions(CLI::App& command) {
  auto options = std::make_shared<PlotOptions>();
  command.add_option("FILE", options->file, "RVX file")->required();
  command.add_option("-o,--output", options->output, "SVG file, or - for standard output")
      ->required();
  command.add_option("--channels", options->channels, "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  command.add_option("--width", options->width, "Pixels of the time axis (default 900)");
  command.add_option("--panel-height", options->panelHeight, "Pixels per channel (default 150)");
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  return [options] { return runPlot(*options); };
}

}  // namespace

extern const Subcommand kPlotSubcommand{"plot", "Quick-look SVG, one panel per channel", addPlotOptions};

}  // namespace rvx
