// storm-pak: makes, lists and unpacks the "data.pak" archives the program
// reads. The archive layout and every check on it live in res/pak_build; this
// file walks folders, reads and writes files, and reports.
//
// Exit codes: 0 done, 1 refused or failed (with a message on stderr), 2 the
// command line was wrong.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "res/files.h"
#include "res/pak_build.h"

namespace fs = std::filesystem;

static const char* USAGE =
    "usage: storm-pak create OUT.pak DIR     pack every file under DIR\n"
    "       storm-pak list FILE.pak          print each member: name, offset, size\n"
    "       storm-pak extract FILE.pak DIR   unpack every member under DIR\n"
    "       storm-pak --help\n";

static const char* HELP =
    "Members are named by their path under DIR with '\\' between the parts\n"
    "(textures\\floor.tga), as the program asks for them; they are stored in\n"
    "byte order of their names, so the same folder always gives the same archive.\n"
    "A name of 128 bytes or more, a member over 2 GiB, two names that differ only\n"
    "in letter case, and a damaged archive are refused with exit code 1; extract\n"
    "refuses absolute names and names with '..' and writes nothing then.\n";

static int fail(const std::string& message)
{
    fprintf(stderr, "storm-pak: %s\n", message.c_str());
    return 1;
}

// Names go to a terminal: control bytes are shown as \xNN, never sent raw.
static std::string printable(const char* name)
{
    std::string out;
    for (const char* p = name; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

static bool read_file(const fs::path& path, std::vector<uint8_t>& bytes, std::string& error)
{
    FILE* fp = fopen(path.c_str(), "rb");
    if (!fp) {
        error = path.string() + ": " + strerror(errno);
        return false;
    }
    bytes.clear();
    uint8_t buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, fp)) > 0)
        bytes.insert(bytes.end(), buf, buf + got);
    bool ok = !ferror(fp);
    fclose(fp);
    if (!ok)
        error = path.string() + ": read error";
    return ok;
}

// Writes through a temporary name and renames, so a failure never leaves a
// half-written file where a good one is expected.
static bool write_file(const fs::path& path, const uint8_t* data, size_t size, std::string& error)
{
    fs::path temp = path;
    temp += ".part";
    FILE* fp = fopen(temp.c_str(), "wb");
    if (!fp) {
        error = temp.string() + ": " + strerror(errno);
        return false;
    }
    bool ok = (size == 0 || fwrite(data, 1, size, fp) == size);
    ok = (fclose(fp) == 0) && ok;
    std::error_code ec;
    if (ok)
        fs::rename(temp, path, ec);
    if (!ok || ec) {
        error = path.string() + ": " + (ec ? ec.message() : std::string("write error"));
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

struct Source {
    std::string name; // archive name, '\' separated
    fs::path path;
};

static int cmd_create(const fs::path& out, const fs::path& dir)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return fail(dir.string() + ": not a folder");

    // The archive being written must not pack itself when it lies inside DIR.
    fs::path out_abs = fs::weakly_canonical(fs::absolute(out, ec), ec);
    std::vector<Source> sources;
    fs::recursive_directory_iterator it(dir, ec), end;
    if (ec)
        return fail(dir.string() + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec)
            return fail(dir.string() + ": " + ec.message());
        if (!it->is_regular_file(ec))
            continue;
        fs::path abs = fs::weakly_canonical(fs::absolute(it->path(), ec), ec);
        if (abs == out_abs)
            continue;
        fs::path rel = it->path().lexically_relative(dir);
        std::string name;
        for (const fs::path& part : rel) {
            std::string s = part.string();
            // A '\' inside a file name would read back as a separator.
            if (s.find('\\') != std::string::npos)
                return fail(rel.string() + ": a '\\' in a file name cannot be stored");
            if (!name.empty())
                name += '\\';
            name += s;
        }
        int status = pak_check_name(name.c_str());
        if (status != PAK_OK)
            return fail(printable(name.c_str()) + ": " + pak_status_text(status));
        uintmax_t size = it->file_size(ec);
        if (ec)
            return fail(it->path().string() + ": " + ec.message());
        if (size > uintmax_t(INT32_MAX))
            return fail(name + ": " + pak_status_text(PAK_MEMBER_TOO_BIG));
        sources.push_back({name, it->path()});
    }
    std::sort(sources.begin(), sources.end(),
              [](const Source& a, const Source& b) { return a.name < b.name; });
    for (size_t i = 0; i < sources.size(); i++) {
        for (size_t j = 0; j < i; j++) {
            if (pak_names_equal(sources[i].name.c_str(), sources[j].name.c_str()))
                return fail(sources[j].name + " and " + sources[i].name + ": " +
                            pak_status_text(PAK_NAME_DUPLICATE));
        }
    }
    if (sources.size() > size_t((INT32_MAX - 4) / PAK_ENTRY_SIZE))
        return fail(pak_status_text(PAK_ARCHIVE_TOO_BIG));

    std::vector<std::vector<uint8_t>> contents(sources.size());
    std::vector<PakMember> members(sources.size());
    int64_t total = 4 + int64_t(sources.size()) * PAK_ENTRY_SIZE;
    for (size_t i = 0; i < sources.size(); i++) {
        std::string error;
        if (!read_file(sources[i].path, contents[i], error))
            return fail(error);
        total += int64_t(contents[i].size());
        if (contents[i].size() > size_t(INT32_MAX))
            return fail(sources[i].name + ": " + pak_status_text(PAK_MEMBER_TOO_BIG));
        if (total > INT32_MAX)
            return fail(pak_status_text(PAK_ARCHIVE_TOO_BIG));
        members[i] = {sources[i].name.c_str(), contents[i].data(), int32_t(contents[i].size())};
    }
    int status = PAK_OK;
    MemFile* archive = pak_build(members.data(), int32_t(members.size()), &status);
    if (!archive)
        return fail(out.string() + ": " + pak_status_text(status));
    std::string error;
    bool ok = write_file(out, archive->data, size_t(archive->size), error);
    int32_t written = archive->size;
    mf_close(archive);
    if (!ok)
        return fail(error);
    printf("%s: %zu members, %d bytes\n", out.string().c_str(), members.size(), written);
    return 0;
}

// Reads an archive and checks its count; the caller checks each entry.
static bool load_archive(const fs::path& path, std::vector<uint8_t>& bytes, int32_t& count)
{
    std::string error;
    if (!read_file(path, bytes, error)) {
        fail(error);
        return false;
    }
    int status = pak_read_count(bytes.data(), int64_t(bytes.size()), &count);
    if (status != PAK_OK) {
        fail(path.string() + ": damaged archive: " + pak_status_text(status));
        return false;
    }
    return true;
}

static int cmd_list(const fs::path& path)
{
    std::vector<uint8_t> bytes;
    int32_t count = 0;
    if (!load_archive(path, bytes, count))
        return 1;
    int damaged = 0;
    for (int32_t i = 0; i < count; i++) {
        PakEntryInfo entry;
        int status = pak_read_entry(bytes.data(), int64_t(bytes.size()), i, &entry);
        if (status != PAK_OK) {
            fprintf(stderr, "storm-pak: %s: damaged entry %d (%s, offset %d, size %d): %s\n",
                    path.string().c_str(), i, printable(entry.name).c_str(), entry.offset,
                    entry.size, pak_status_text(status));
            damaged++;
            continue;
        }
        printf("%s\t%d\t%d\n", printable(entry.name).c_str(), entry.offset, entry.size);
    }
    return damaged ? 1 : 0;
}

// A member's path under `dir`. Every folder on the way must be a real folder,
// not a link that could lead out of `dir`.
static bool member_path(const fs::path& dir, const char* name, fs::path& out, std::string& error)
{
    out = dir;
    std::string part;
    for (const char* p = name;; p++) {
        if (*p && *p != '\\' && *p != '/') {
            part += *p;
            continue;
        }
        out /= part;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(out, ec))) {
            error = out.string() + ": is a link; not written through";
            return false;
        }
        part.clear();
        if (!*p)
            return true;
    }
}

static int cmd_extract(const fs::path& path, const fs::path& dir)
{
    std::vector<uint8_t> bytes;
    int32_t count = 0;
    if (!load_archive(path, bytes, count))
        return 1;

    // Everything is checked before the first byte is written: a damaged
    // archive leaves DIR untouched.
    std::vector<PakEntryInfo> entries(static_cast<size_t>(count));
    int problems = 0;
    for (int32_t i = 0; i < count; i++) {
        PakEntryInfo& entry = entries[size_t(i)];
        int status = pak_read_entry(bytes.data(), int64_t(bytes.size()), i, &entry);
        if (status == PAK_OK)
            status = pak_check_name(entry.name);
        if (status != PAK_OK) {
            fprintf(stderr, "storm-pak: %s: entry %d (%s): %s\n", path.string().c_str(), i,
                    printable(entry.name).c_str(), pak_status_text(status));
            problems++;
        }
    }
    if (problems)
        return fail(path.string() + ": damaged archive, nothing extracted");

    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        return fail(dir.string() + ": " + ec.message());
    int32_t written = 0;
    for (int32_t i = 0; i < count; i++) {
        const PakEntryInfo& entry = entries[size_t(i)];
        // The program reads the first of equal names; a later one is
        // unreachable and would only overwrite it here.
        bool shadowed = false;
        for (int32_t j = 0; j < i && !shadowed; j++)
            shadowed = pak_names_equal(entries[size_t(j)].name, entry.name);
        if (shadowed) {
            fprintf(stderr, "storm-pak: %s: skipped, an earlier entry has the same name\n",
                    printable(entry.name).c_str());
            continue;
        }
        fs::path target;
        std::string error;
        if (!member_path(dir, entry.name, target, error))
            return fail(error);
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return fail(target.parent_path().string() + ": " + ec.message());
        if (!write_file(target, bytes.data() + entry.offset, size_t(entry.size), error))
            return fail(error);
        written++;
    }
    printf("%s: %d members extracted to %s\n", path.string().c_str(), written,
           dir.string().c_str());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf("%s\n%s", USAGE, HELP);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "create") == 0)
        return cmd_create(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "list") == 0)
        return cmd_list(argv[2]);
    if (argc == 4 && strcmp(argv[1], "extract") == 0)
        return cmd_extract(argv[2], argv[3]);
    fputs(USAGE, stderr);
    return 2;
}
