// The image catalog of a server: what each completed image holds, written
// by the backup programs and read by the listing programs and the restore
// without calling the repository.
//
// Layout, in the server's catalog directory, per image ID (the backup time,
// ten digits, so that names sort by time):
//   ID.lst  the listing lines of every file and directory of the image, in
//           exactly the form the file listing program prints, sorted by path
//           bytes so that every directory's subtree is one contiguous run;
//   ID.idx  a binary index of ID.lst: per line its offset, length, the
//           offset and length of its path, and its depth;
//   ID.hdr  the image header, "key=value" lines. Written last: an image
//           exists once its header exists, so a crash never leaves a
//           half-written image visible.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

constexpr long long KP_INFINITY = 2147483647;

// Schedule types of an image.
constexpr int SCHED_FULL = 0;
constexpr int SCHED_USER_BACKUP = 2;
constexpr int SCHED_USER_ARCHIVE = 3;

struct ImageHeader {
    std::string id; // file name stem: backup time in ten digits
    long long backup_time = 0;
    long long expiration = KP_INFINITY;
    long long files = 0; // files and directories the request covered
    long long kb = 0;    // kilobytes of regular-file data
    int schedule = SCHED_USER_BACKUP;
    int policy_type = 0; // the client (policy) type number, 0 for standard
    std::string policy;  // one word
    std::string client;
    std::string keyword;  // may be empty; never holds a newline
    std::string snapshot; // the repository snapshot id
};

// One listing line, parsed or to be formatted.
struct ListingLine {
    long long numbers[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0}; // eighth: device number
    std::string mode;                                   // "drwxr-xr-x"
    std::string owner;                                  // at most 9 bytes, no blank
    std::string group;
    long long size = 0;
    long long backup_time = 0;
    long long mtime = 0;
    std::string path; // absolute; a directory ends in "/"
};

// Meaning of the nine numbers of our listing lines.
enum ListingNumber {
    LN_TYPE = 0, // 0 regular file, 1 directory, 2 symbolic link, 3 other
    LN_MODE = 1, // st_mode
    LN_UID = 2,
    LN_GID = 3,
    LN_NLINK = 4,
    LN_SCHED = 5,  // schedule type of the image
    LN_BLOCKS = 6, // kilobytes allocated on disk (a sparse file has fewer than its size)
    LN_DEVICE = 7, // device number, -1 when unknown
    LN_INODE = 8,  // inode number, 0 when it does not fit or is unknown
};

// The line, "\n" included. The path starts at column 69 of the text after
// the nine numbers (later when the numbers there are longer).
std::string format_listing_line(const ListingLine &l);

// Parses one line starting at text[pos]; a path shorter than its stated
// length continues on the following lines (joined with "\n") as the client
// reads it. Returns the number of bytes consumed (newline included), or 0
// when the text at pos is not a listing line.
size_t parse_listing_line(std::string_view text, size_t pos, ListingLine &out);

// "-rw-r--r--" style text of a mode.
std::string mode_text(unsigned mode);

// Number of components of an absolute path ("/" 0, "/a" and "/a/" 1).
int path_depth(std::string_view path);

// Header file text and its reader. The reader returns false for a text
// that lacks a required key or holds a malformed number.
std::string format_image_header(const ImageHeader &h);
bool parse_image_header(const std::string &text, ImageHeader &out);

// Writes one image into dir. lines: (path, listing line) pairs in any
// order; they are sorted here. Each file is written to a temporary name and
// renamed into place, the header last. Returns false with err set; a
// failed write leaves no header behind.
bool write_image(const std::string &dir, const ImageHeader &h,
                 std::vector<std::pair<std::string, std::string>> &lines, std::string &err);

// Every image of the catalog directory whose header reads back, oldest
// first. Headers that do not parse are skipped and named in bad.
std::vector<ImageHeader> load_image_headers(const std::string &dir,
                                            std::vector<std::string> *bad = nullptr);

// Read access to one image's listing through the index. Both files are
// mapped read-only.
class ImageListing {
  public:
    ImageListing() = default;
    ~ImageListing();
    ImageListing(const ImageListing &) = delete;
    ImageListing &operator=(const ImageListing &) = delete;
    ImageListing(ImageListing &&o) noexcept;
    ImageListing &operator=(ImageListing &&o) noexcept;

    // Opens ID.lst and ID.idx of dir. False with err when missing or when
    // the index's size does not match its count; a record pointing outside
    // the listing reads as an empty line and path.
    bool open(const std::string &dir, const std::string &id, std::string &err);
    // The same from memory (used by the fuzz target and the tests): the
    // texts must outlive the object.
    bool open_memory(std::string_view lst, std::string_view idx, std::string &err);

    size_t size() const { return count_; }
    std::string_view line(size_t i) const;
    std::string_view path(size_t i) const;
    int depth(size_t i) const;

    // Index of the record whose path is exactly path, or size().
    size_t find(std::string_view path) const;

    // Calls fn for every record inside directory dir (given with or
    // without its trailing slash; "" or "/" is the root) down to max_depth
    // levels below it: the directory's own line has level 0, its entries
    // level 1. A dir naming a file yields that file's line. max_depth < 0
    // means no limit. Subtrees below the limit are skipped, not scanned.
    void for_each_in(std::string_view dir, int max_depth,
                     const std::function<void(size_t)> &fn) const;

  private:
    bool record(size_t i, uint64_t &off, uint32_t &len, uint32_t &path_off,
                uint32_t &path_len) const;
    size_t lower_bound(std::string_view key) const;
    size_t after_prefix(std::string_view prefix) const;
    void unmap();

    const char *lst_ = nullptr;
    size_t lst_size_ = 0;
    const unsigned char *idx_ = nullptr;
    size_t idx_size_ = 0;
    size_t count_ = 0;
    bool mapped_ = false;
};

// Percent-encoding of texts stored in headers and repository tags: "%",
// ",", "=", blanks, control bytes and bytes above 0x7E become "%XX".
std::string percent_encode(std::string_view text);
// Reverses percent_encode; a malformed "%" sequence is kept as it is.
std::string percent_decode(std::string_view text);
