// ferngate: look inside a portal archive. Parses the command line with CLI11, runs one
// subcommand, and turns its error into one line on standard error and the exit status.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "arguments.hpp"
#include "commands.hpp"

namespace {

using ferngate_cli::CommandError;
using ferngate_cli::CommandResult;

constexpr char kGreyRampNote[] =
    "Palette formats (P8, Index16) are drawn through a grey ramp, not through their palettes:\n"
    "P8 index i as grey i, Index16 from black at index 0 to white at the highest index the\n"
    "texture uses.";

// The values every subcommand may fill; the chosen subcommand reads its own.
struct Arguments {
  std::string archive;
  std::string id;
  std::string output;
  std::vector<std::string> types;
  ferngate_cli::SheetOptions sheet;
};

CLI::Option* add_archive(CLI::App& command, Arguments& args) {
  return command.add_option("ARCHIVE", args.archive, "the archive file (e.g. portal.dat)")
      ->required()
      ->type_name("PATH");
}

CLI::Option* add_id(CLI::App& command, Arguments& args, const std::string& text) {
  return command.add_option("ID", args.id, text)->required()->type_name("ID");
}

CLI::Option* add_png_output(CLI::App& command, Arguments& args) {
  return command.add_option("-o,--output", args.output, "the PNG file to write")
      ->required()
      ->type_name("PNG");
}

// A subcommand whose first argument is the archive, with `details` and `footer` closing its help.
CLI::App* add_command(CLI::App& app, Arguments& args, const std::string& name,
                      const std::string& summary, const std::string& details,
                      const std::string& footer) {
  CLI::App* command = app.add_subcommand(name, summary);
  command->footer(details.empty() ? footer : fmt::format("{}\n{}", details, footer));
  add_archive(*command, args);
  return command;
}

// Runs the subcommand that was parsed; numbers are checked here so that their errors read alike.
CommandResult run(const CLI::App& app, const Arguments& args) {
  const CLI::App* command = app.get_subcommands().front();
  const std::string& name = command->get_name();
  std::uint32_t id = 0;
  if (name == "cat" || name == "texture") {
    auto parsed = ferngate_cli::parse_file_id(args.id);
    if (!parsed) return std::unexpected(CommandError::usage(std::move(parsed.error())));
    id = *parsed;
  }
  if (name == "info") return ferngate_cli::run_info(args.archive);
  if (name == "ls") {
    std::vector<std::uint8_t> top_bytes;
    for (const std::string& text : args.types) {
      auto top = ferngate_cli::parse_top_byte(text);
      if (!top) return std::unexpected(CommandError::usage(std::move(top.error())));
      top_bytes.push_back(*top);
    }
    return ferngate_cli::run_ls(args.archive, top_bytes);
  }
  if (name == "cat") return ferngate_cli::run_cat(args.archive, id);
  if (name == "texture") return ferngate_cli::run_texture(args.archive, id, args.output);
  if (name == "export") return ferngate_cli::run_export(args.archive, args.output);
  return ferngate_cli::run_sheet(args.archive, args.output, args.sheet);
}

int run_cli(int argc, char** argv) {
  Arguments args;
  CLI::App app{
      "Looks inside a portal archive: its header and directory, the bytes of its stored files, "
      "and its textures decoded to PNG, one by one, all at once, or as a contact sheet.",
      "ferngate"};
  app.require_subcommand(1);
  const std::string common_footer =
      "IDs are hexadecimal after 0x (0x06000001, as ls prints them) or decimal.\n"
      "Exit status: 0 done, 1 failed (the reason on standard error), 2 bad arguments.";
  app.footer(common_footer + "\nRun ferngate COMMAND --help for the details of a command.");

  add_command(app, args, "info",
              "The header fields, the files by top byte, how many are compressed, the sizes.", "",
              common_footer);

  CLI::App* ls =
      add_command(app, args, "ls",
                  "One line per file, sorted by ID: ID, stored size in bytes, compressed or not.",
                  "", common_footer);
  ls->add_option("-t,--type", args.types,
                 "only files whose ID has this top byte, e.g. 0x06 for textures (repeatable)")
      ->type_name("TOP_BYTE")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

  CLI::App* cat = add_command(app, args, "cat",
                              "The bytes of one stored file, decompressed, on standard output.", "",
                              common_footer);
  add_id(*cat, args, "the file's ID");

  CLI::App* texture = add_command(app, args, "texture", "One texture decoded to an RGBA PNG.",
                                  kGreyRampNote, common_footer);
  add_id(*texture, args, "the texture's ID (top byte 0x06 or 0x07)");
  add_png_output(*texture, args);

  CLI::App* export_all = add_command(
      app, args, "export", "Every texture as a PNG in a directory, then a summary of the failures.",
      fmt::format(
          "Writes every texture (IDs 0x06... and 0x07...) into DIR as ID.png, e.g. 06000001.png,\n"
          "with a progress bar when standard error is a terminal. Then lists the textures that\n"
          "could not be exported, and fails if any could not.\n{}",
          kGreyRampNote),
      common_footer);
  export_all->add_option("DIR", args.output, "the directory to write into (created if needed)")
      ->required()
      ->type_name("DIR");

  CLI::App* sheet = add_command(
      app, args, "sheet",
      "A contact sheet: thumbnails of a sample of each format, labelled by format.",
      fmt::format(
          "Draws thumbnails of a sample of the textures of each format, spread over their IDs,\n"
          "grouped under the format's name with each texture's ID under it, so that the decoders\n"
          "can be checked by eye. Transparent parts show a checkerboard; textures that fail to\n"
          "decode show as red squares, and the command then fails after writing the sheet.\n{}",
          kGreyRampNote),
      common_footer);
  add_png_output(*sheet, args);
  sheet->add_option("--per-format", args.sheet.per_format, "thumbnails per format, at most")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  sheet->add_option("--thumb", args.sheet.thumb, "side of a thumbnail in pixels")
      ->check(CLI::Range(16, 256))
      ->capture_default_str();
  sheet->add_option("--columns", args.sheet.columns, "thumbnails per row")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help
    const auto parsed = app.get_subcommands();
    std::string what = error.what();
    // CLI11 checks for a missing subcommand before it looks at a word it did not know.
    if (parsed.empty() && argc > 1) {
      what = fmt::format("unknown {} '{}'", argv[1][0] == '-' ? "option" : "command", argv[1]);
    }
    fmt::print(stderr, "ferngate: {} (see ferngate{} --help)\n", what,
               parsed.empty() ? "" : " " + parsed.front()->get_name());
    return 2;
  }

  const CommandResult result = run(app, args);
  if (!result) {
    static_cast<void>(std::fflush(stdout));  // whatever went out before the failure
    fmt::print(stderr, "ferngate: {}\n", result.error().message);
    return result.error().exit_status();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Out of memory, say: one line and status 1, as for any other failure. Nothing is left to do
  // if even that line cannot be written.
  // NOLINTBEGIN(cert-err33-c)
  try {
    return run_cli(argc, argv);
  } catch (const std::exception& error) {
    std::fputs("ferngate: ", stderr);
    std::fputs(error.what(), stderr);
    std::fputs("\n", stderr);
  } catch (...) {
    std::fputs("ferngate: unexpected failure\n", stderr);
  }
  // NOLINTEND(cert-err33-c)
  return 1;
}
