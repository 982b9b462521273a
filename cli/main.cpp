// zarvel-cli: inspect, dump, search, convert and sort delimited text files from the shell.
//
// Exit status: 0 on success, 2 when the command is used wrongly (unknown or bad options,
// a column out of range), 1 for every other failure (a file that cannot be read, is not
// text, or cannot be written). A failure prints one line on standard error and nothing
// on standard output, except when writing to standard output itself fails midway.

#include "cli/CliError.h"
#include "cli/Commands.h"
#include "cli/OptionValues.h"
#include "zarvel/BuildInfo.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <new>

namespace zarvel {
namespace {

constexpr const char* programName = "zarvel-cli";

void addReadOptions(CLI::App* command, ReadArguments& read) {
    command->add_option("FILE", read.file, "The delimited text file to read; - reads standard input")
        ->required();
    auto* group = command->add_option_group("Reading", "Force how the file is read instead of detecting it");
    auto keep = [](std::optional<std::string>& target) {
        return [&target](const std::string& value) { target = value; };
    };
    group
        ->add_option_function<std::string>("--encoding", keep(read.encoding),
                                           "Text encoding: " + OptionValues::encodingList())
        ->type_name("RAW");
    group
        ->add_option_function<std::string>("--delimiter", keep(read.delimiter),
                                           "Field delimiter: one ASCII character, tab or space")
        ->type_name("C");
    group
        ->add_option_function<std::string>("--quote", keep(read.quote),
                                           "Quote character or none (with --delimiter; default \")")
        ->type_name("C|none");
    group
        ->add_option_function<std::string>(
            "--escape", keep(read.escape),
            "How quotes are escaped in quoted fields (with --delimiter; default doubled)")
        ->type_name("doubled|backslash");
    group
        ->add_option_function<std::string>("--header", keep(read.header), "Whether the first row is a header")
        ->type_name("yes|no");
}

void addWriteOptions(CLI::App* command, WriteArguments& write) {
    command
        ->add_option("-o,--output", write.output,
                     "The file to write (replaced only on success); - streams to standard output, "
                     "which is not atomic: a failure may leave part of the output written")
        ->required()
        ->type_name("OUT");
    auto* group = command->add_option_group("Writing", "Change how the output is written (default: as read)");
    auto keep = [](std::optional<std::string>& target) {
        return [&target](const std::string& value) { target = value; };
    };
    group->add_option_function<std::string>("--to-delimiter", keep(write.delimiter), "Field delimiter")
        ->type_name("C");
    group->add_option_function<std::string>("--to-quote", keep(write.quote), "Quote character or none")
        ->type_name("C|none");
    group->add_option_function<std::string>("--to-escape", keep(write.escape), "Quote escape style")
        ->type_name("doubled|backslash");
    group->add_option_function<std::string>("--to-encoding", keep(write.encoding), "Text encoding")
        ->type_name("RAW");
    group->add_option_function<std::string>("--bom", keep(write.bom), "Write a byte order mark")
        ->type_name("yes|no");
    group->add_option_function<std::string>("--line-ending", keep(write.lineEnding), "Line ending")
        ->type_name("lf|crlf|cr");
    group
        ->add_option_function<std::string>("--quoting", keep(write.quoting),
                                           "Quote only where needed, or every field")
        ->type_name("minimal|all");
    group->add_option_function<std::string>("--sep-line", keep(write.sepLine), "Start with a sep= line")
        ->type_name("yes|no");
    group
        ->add_option_function<std::string>("--trailing-newline", keep(write.trailingNewline),
                                           "End the last row with a line ending")
        ->type_name("yes|no");
}

int run(int argc, char** argv) {
    CLI::App app{"Inspect, dump, search, filter, convert and sort delimited text files.", programName};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string(programName) + " " + ZARVEL_VERSION,
                         "Print the version and exit");
    app.footer("Rows and columns are numbered from 0; row 0 is the header row when the file has one.");

    ReadArguments read;
    WriteArguments write;
    std::string query;
    bool caseSensitive = false;
    bool regex = false;
    bool infoText = false;
    Commands::SortArguments sortArguments;
    Commands::FilterArguments filterArguments;

    auto* info = app.add_subcommand(
        "info", "Print how the file is written and what reading it found, as JSON or --text");
    addReadOptions(info, read);
    info->add_flag("--text", infoText, "Print aligned key: value lines for a person instead of JSON");

    auto* cells = app.add_subcommand("cells", "Print every row's cell values as a JSON array of arrays");
    addReadOptions(cells, read);

    auto* convert = app.add_subcommand("convert", "Write the file again, changed by the writing options");
    addReadOptions(convert, read);
    addWriteOptions(convert, write);

    auto* find =
        app.add_subcommand("find", "Print the [row, column] of every cell containing QUERY, as JSON");
    addReadOptions(find, read);
    find->add_option("QUERY", query, "The text to look for")->required();
    find->add_flag("--case-sensitive", caseSensitive, "Match letter case exactly");
    find->add_flag("--regex", regex, "QUERY is a regular expression (ICU syntax), matched in each cell");

    auto* sort = app.add_subcommand("sort", "Write the file with its data rows sorted by one column");
    addReadOptions(sort, read);
    addWriteOptions(sort, write);
    sort->add_option("--column", sortArguments.column, "The column to sort by, from 0")
        ->required()
        ->type_name("N");
    sort->add_flag("--descending", sortArguments.descending, "Largest first");
    sort->add_option_function<std::string>(
            "--kind", [&sortArguments](const std::string& value) { sortArguments.kind = value; },
            "Compare as numbers, as text, as text with digit runs as numbers (natural) or as dates "
            "(default: numbers in a number column, else text)")
        ->type_name("number|text|natural|date");

    auto* filter =
        app.add_subcommand("filter", "Write the header row and every data row with a cell containing QUERY");
    addReadOptions(filter, read);
    addWriteOptions(filter, write);
    filter->add_option("QUERY", filterArguments.query, "The text to look for")->required();
    filter->add_flag("--case-sensitive", filterArguments.caseSensitive, "Match letter case exactly");
    filter->add_flag("--regex", filterArguments.regex,
                     "QUERY is a regular expression (ICU syntax), matched in each cell");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        throw CliError::usage(e.what());
    }

    if (info->parsed())
        Commands::info(read, infoText);
    else if (cells->parsed())
        Commands::cells(read);
    else if (convert->parsed())
        Commands::convert(read, write);
    else if (find->parsed())
        Commands::find(read, query, caseSensitive, regex);
    else if (sort->parsed())
        Commands::sort(read, write, sortArguments);
    else if (filter->parsed())
        Commands::filter(read, write, filterArguments);
    return 0;
}

} // namespace
} // namespace zarvel

int main(int argc, char** argv) {
    // A reader that closes the pipe early makes a write fail with EPIPE, reported and
    // exited with status 1, rather than killing the program silently.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return zarvel::run(argc, argv);
    } catch (const zarvel::CliError& e) {
        std::fprintf(stderr, "%s: %s\n", zarvel::programName, e.what());
        return e.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: not enough memory\n", zarvel::programName);
        return zarvel::CliError::failureStatus;
    }
}
