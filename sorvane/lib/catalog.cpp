#include "catalog.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "request_file.h"

namespace {

constexpr char IDX_MAGIC[8] = {'K', 'P', 'I', 'D', 'X', '1', '\n', '\0'};

struct IdxRec {
    uint64_t off;
    uint32_t len;
    uint32_t path_off;
    uint32_t path_len;
    uint32_t depth;
};
static_assert(sizeof(IdxRec) == 24);

// Column of the text after the nine numbers where the path starts.
constexpr size_t PATH_COLUMN = 69;

// Writes data to a new temporary file in dir and renames it to name.
bool write_atomically(const std::string &dir, const std::string &name, const std::string &data,
                      std::string &err) {
    std::string tmpl = dir + "/." + name + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) {
        err = "cannot create a file in " + dir + ": " + strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = std::string("cannot write the catalog: ") + strerror(errno);
            close(fd);
            unlink(buf.data());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (fchmod(fd, 0644) != 0 || fsync(fd) != 0 || close(fd) != 0) {
        err = std::string("cannot write the catalog: ") + strerror(errno);
        unlink(buf.data());
        return false;
    }
    if (rename(buf.data(), (dir + "/" + name).c_str()) != 0) {
        err = std::string("cannot rename into the catalog: ") + strerror(errno);
        unlink(buf.data());
        return false;
    }
    return true;
}

bool read_ll(std::string_view t, size_t &p, long long &v) {
    while (p < t.size() && (t[p] == ' ' || t[p] == '\t'))
        ++p;
    bool neg = false;
    if (p < t.size() && t[p] == '-') {
        neg = true;
        ++p;
    }
    size_t digits = 0;
    long long acc = 0;
    while (p < t.size() && t[p] >= '0' && t[p] <= '9') {
        if (acc > (LLONG_MAX - 9) / 10)
            return false;
        acc = acc * 10 + (t[p] - '0');
        ++p;
        ++digits;
    }
    if (digits == 0)
        return false;
    v = neg ? -acc : acc;
    return true;
}

// First field of text starting at column col of r ("" when past the end).
std::string field_at(std::string_view r, size_t col) {
    if (col >= r.size())
        return {};
    size_t e = col;
    while (e < r.size() && r[e] != ' ' && r[e] != '\t')
        ++e;
    return std::string(r.substr(col, e - col));
}

} // namespace

std::string mode_text(unsigned mode) {
    std::string s(10, '-');
    switch (mode & S_IFMT) {
    case S_IFDIR:
        s[0] = 'd';
        break;
    case S_IFLNK:
        s[0] = 'l';
        break;
    case S_IFCHR:
        s[0] = 'c';
        break;
    case S_IFBLK:
        s[0] = 'b';
        break;
    case S_IFIFO:
        s[0] = 'p';
        break;
    case S_IFSOCK:
        s[0] = 's';
        break;
    default:
        break;
    }
    const char *rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i))
            s[1 + i] = rwx[i];
    if (mode & S_ISUID)
        s[3] = (mode & S_IXUSR) ? 's' : 'S';
    if (mode & S_ISGID)
        s[6] = (mode & S_IXGRP) ? 's' : 'S';
    if (mode & S_ISVTX)
        s[9] = (mode & S_IXOTH) ? 't' : 'T';
    return s;
}

int path_depth(std::string_view path) {
    size_t n = path.size();
    if (n > 0 && path[n - 1] == '/')
        --n;
    int d = 0;
    for (size_t i = 0; i < n; ++i)
        if (path[i] == '/')
            ++d;
    return d;
}

std::string format_listing_line(const ListingLine &l) {
    std::string out;
    out.reserve(160 + l.path.size());
    char num[32];
    for (long long n : l.numbers) {
        snprintf(num, sizeof num, "%lld ", n);
        out += num;
    }
    size_t r0 = out.size();
    auto pad_to = [&](size_t col) {
        while (out.size() - r0 < col)
            out += ' ';
    };
    out += l.mode.substr(0, 10);
    pad_to(11);
    out += l.owner.substr(0, 9);
    pad_to(21);
    out += l.group.substr(0, 9);
    pad_to(31);
    snprintf(num, sizeof num, "%lld ", l.size);
    out += num;
    snprintf(num, sizeof num, "%lld ", l.backup_time);
    out += num;
    snprintf(num, sizeof num, "%lld ", l.mtime);
    out += num;
    snprintf(num, sizeof num, "%zu ", l.path.size());
    out += num;
    pad_to(PATH_COLUMN);
    out += l.path;
    out += '\n';
    return out;
}

size_t parse_listing_line(std::string_view text, size_t pos, ListingLine &out) {
    out = ListingLine{};
    if (pos >= text.size())
        return 0;
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(pos, end - pos);
    size_t p = 0;
    for (long long &n : out.numbers)
        if (!read_ll(line, p, n))
            return 0;
    // R starts at the first character of the tenth field.
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
        ++p;
    if (p >= line.size())
        return 0;
    std::string_view r = line.substr(p);
    out.mode = field_at(r, 0);
    out.owner = field_at(r, 11);
    out.group = field_at(r, 21);
    size_t q = 31;
    long long len = 0;
    if (q > r.size() || !read_ll(r, q, out.size) || !read_ll(r, q, out.backup_time) ||
        !read_ll(r, q, out.mtime) || !read_ll(r, q, len) || len < 0)
        return 0;
    size_t col = std::max(q + 1, PATH_COLUMN);
    if (col > r.size())
        return 0;
    size_t slash = r.find('/', col);
    size_t path_start = slash == std::string_view::npos ? col : slash;
    out.path = std::string(r.substr(path_start));
    size_t consumed_end = end;
    // Names holding newlines continue on the following lines.
    while (out.path.size() < static_cast<size_t>(len) && consumed_end < text.size()) {
        size_t from = consumed_end + 1;
        if (from > text.size())
            break;
        size_t nl2 = text.find('\n', from);
        size_t e2 = nl2 == std::string_view::npos ? text.size() : nl2;
        out.path += '\n';
        out.path.append(text.substr(from, e2 - from));
        consumed_end = e2;
    }
    return std::min(consumed_end + 1, text.size()) - pos;
}

std::string percent_encode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == ',' || c == '=') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string percent_decode(std::string_view text) {
    auto hexval = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexval(text[i + 1]) >= 0 &&
            hexval(text[i + 2]) >= 0) {
            out += static_cast<char>(hexval(text[i + 1]) * 16 + hexval(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string format_image_header(const ImageHeader &h) {
    std::string s;
    s += "backup_time=" + std::to_string(h.backup_time) + "\n";
    s += "expiration=" + std::to_string(h.expiration) + "\n";
    s += "files=" + std::to_string(h.files) + "\n";
    s += "kb=" + std::to_string(h.kb) + "\n";
    s += "schedule=" + std::to_string(h.schedule) + "\n";
    s += "policy_type=" + std::to_string(h.policy_type) + "\n";
    s += "policy=" + percent_encode(h.policy) + "\n";
    s += "client=" + percent_encode(h.client) + "\n";
    s += "keyword=" + percent_encode(h.keyword) + "\n";
    s += "snapshot=" + percent_encode(h.snapshot) + "\n";
    return s;
}

bool parse_image_header(const std::string &text, ImageHeader &out) {
    out = ImageHeader{};
    unsigned seen = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        std::string val = line.substr(eq + 1);
        auto num = [&](long long &dst, unsigned bit) {
            size_t p = 0;
            long long v = 0;
            if (!read_ll(val, p, v) || p != val.size())
                return false;
            dst = v;
            seen |= bit;
            return true;
        };
        long long tmp = 0;
        bool ok = true;
        if (key == "backup_time")
            ok = num(out.backup_time, 1);
        else if (key == "expiration")
            ok = num(out.expiration, 2);
        else if (key == "files")
            ok = num(out.files, 4);
        else if (key == "kb")
            ok = num(out.kb, 8);
        else if (key == "schedule") {
            ok = num(tmp, 16) && tmp >= 0 && tmp <= 99;
            out.schedule = static_cast<int>(tmp);
        } else if (key == "policy_type") {
            ok = num(tmp, 32) && tmp >= -1 && tmp <= 99;
            out.policy_type = static_cast<int>(tmp);
        } else if (key == "policy")
            out.policy = percent_decode(val);
        else if (key == "client") {
            out.client = percent_decode(val);
            seen |= 64;
        } else if (key == "keyword")
            out.keyword = percent_decode(val);
        else if (key == "snapshot") {
            out.snapshot = percent_decode(val);
            seen |= 128;
        }
        if (!ok)
            return false;
    }
    if ((seen & (1 | 16 | 64 | 128)) != (1 | 16 | 64 | 128) || out.backup_time < 0 ||
        out.backup_time > KP_INFINITY)
        return false;
    char id[32];
    snprintf(id, sizeof id, "%010lld", out.backup_time);
    out.id = id;
    return true;
}

bool write_image(const std::string &dir, const ImageHeader &h,
                 std::vector<std::pair<std::string, std::string>> &lines, std::string &err) {
    std::sort(lines.begin(), lines.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    lines.erase(std::unique(lines.begin(), lines.end(),
                            [](const auto &a, const auto &b) { return a.first == b.first; }),
                lines.end());
    std::string lst;
    std::string idx(IDX_MAGIC, sizeof IDX_MAGIC);
    uint64_t count = lines.size();
    idx.append(reinterpret_cast<const char *>(&count), sizeof count);
    for (const auto &[path, line] : lines) {
        size_t at = line.rfind(path);
        if (at == std::string::npos || line.size() > UINT32_MAX) {
            err = "listing line does not hold its path";
            return false;
        }
        IdxRec r{};
        r.off = lst.size();
        r.len = static_cast<uint32_t>(line.size());
        r.path_off = static_cast<uint32_t>(at);
        r.path_len = static_cast<uint32_t>(path.size());
        r.depth = static_cast<uint32_t>(path_depth(path));
        idx.append(reinterpret_cast<const char *>(&r), sizeof r);
        lst += line;
    }
    char id[32];
    snprintf(id, sizeof id, "%010lld", h.backup_time);
    std::string sid = id;
    if (!write_atomically(dir, sid + ".lst", lst, err) ||
        !write_atomically(dir, sid + ".idx", idx, err))
        return false;
    return write_atomically(dir, sid + ".hdr", format_image_header(h), err);
}

std::vector<ImageHeader> load_image_headers(const std::string &dir, std::vector<std::string> *bad) {
    std::vector<ImageHeader> out;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return out;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() < 5 || name[0] == '.' || name.compare(name.size() - 4, 4, ".hdr") != 0)
            continue;
        std::string text, err;
        ImageHeader h;
        if (read_whole_file(dir + "/" + name, text, err, 1 << 20) && parse_image_header(text, h) &&
            h.id == name.substr(0, name.size() - 4))
            out.push_back(std::move(h));
        else if (bad != nullptr)
            bad->push_back(name);
    }
    closedir(d);
    std::sort(out.begin(), out.end(), [](const ImageHeader &a, const ImageHeader &b) {
        return a.backup_time < b.backup_time;
    });
    return out;
}

ImageListing::~ImageListing() {
    unmap();
}

ImageListing::ImageListing(ImageListing &&o) noexcept {
    *this = std::move(o);
}

ImageListing &ImageListing::operator=(ImageListing &&o) noexcept {
    if (this != &o) {
        unmap();
        lst_ = o.lst_;
        lst_size_ = o.lst_size_;
        idx_ = o.idx_;
        idx_size_ = o.idx_size_;
        count_ = o.count_;
        mapped_ = o.mapped_;
        o.lst_ = nullptr;
        o.idx_ = nullptr;
        o.lst_size_ = o.idx_size_ = o.count_ = 0;
        o.mapped_ = false;
    }
    return *this;
}

void ImageListing::unmap() {
    if (mapped_) {
        if (lst_ != nullptr && lst_size_ > 0)
            munmap(const_cast<char *>(lst_), lst_size_);
        if (idx_ != nullptr && idx_size_ > 0)
            munmap(const_cast<unsigned char *>(idx_), idx_size_);
    }
    lst_ = nullptr;
    idx_ = nullptr;
    lst_size_ = idx_size_ = count_ = 0;
    mapped_ = false;
}

namespace {

const void *map_file(const std::string &path, size_t &size, std::string &err) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = "cannot open " + path + ": " + strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        err = "cannot stat " + path;
        close(fd);
        return nullptr;
    }
    size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        close(fd);
        return "";
    }
    void *p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        err = "cannot map " + path;
        return nullptr;
    }
    return p;
}

} // namespace

bool ImageListing::open(const std::string &dir, const std::string &id, std::string &err) {
    unmap();
    size_t ls = 0, is = 0;
    const void *l = map_file(dir + "/" + id + ".lst", ls, err);
    if (l == nullptr)
        return false;
    const void *x = map_file(dir + "/" + id + ".idx", is, err);
    if (x == nullptr) {
        if (ls > 0)
            munmap(const_cast<void *>(l), ls);
        return false;
    }
    // Empty files were not mapped; remember which sizes to unmap.
    bool ok = open_memory(std::string_view(static_cast<const char *>(l), ls),
                          std::string_view(static_cast<const char *>(x), is), err);
    mapped_ = true;
    if (!ok) {
        lst_ = static_cast<const char *>(l);
        lst_size_ = ls;
        idx_ = static_cast<const unsigned char *>(x);
        idx_size_ = is;
        unmap();
        err = id + ": " + err;
        return false;
    }
    return true;
}

bool ImageListing::open_memory(std::string_view lst, std::string_view idx, std::string &err) {
    lst_ = lst.data();
    lst_size_ = lst.size();
    idx_ = reinterpret_cast<const unsigned char *>(idx.data());
    idx_size_ = idx.size();
    count_ = 0;
    if (idx.size() < 16 || memcmp(idx.data(), IDX_MAGIC, 8) != 0) {
        err = "catalog index has no header";
        return false;
    }
    uint64_t count = 0;
    memcpy(&count, idx.data() + 8, sizeof count);
    if (count > (idx.size() - 16) / sizeof(IdxRec) || 16 + count * sizeof(IdxRec) != idx.size()) {
        err = "catalog index size does not match its count";
        return false;
    }
    count_ = static_cast<size_t>(count);
    return true;
}

namespace {
IdxRec rec_at(const unsigned char *idx, size_t i) {
    IdxRec r;
    memcpy(&r, idx + 16 + i * sizeof r, sizeof r);
    return r;
}
} // namespace

// Records are checked when read, not when the image is opened: a listing
// query touches a few pages of a large image, and checking every record up
// front would read all of it. A record pointing outside the listing reads
// as empty.
bool ImageListing::record(size_t i, uint64_t &off, uint32_t &len, uint32_t &path_off,
                          uint32_t &path_len) const {
    if (i >= count_)
        return false;
    IdxRec r = rec_at(idx_, i);
    if (r.off > lst_size_ || r.len > lst_size_ - r.off || r.path_off > r.len ||
        r.path_len > r.len - r.path_off || r.path_len == 0)
        return false;
    off = r.off;
    len = r.len;
    path_off = r.path_off;
    path_len = r.path_len;
    return true;
}

std::string_view ImageListing::line(size_t i) const {
    uint64_t off;
    uint32_t len, po, pl;
    if (!record(i, off, len, po, pl))
        return {};
    return std::string_view(lst_ + off, len);
}

std::string_view ImageListing::path(size_t i) const {
    uint64_t off;
    uint32_t len, po, pl;
    if (!record(i, off, len, po, pl))
        return {};
    return std::string_view(lst_ + off + po, pl);
}

int ImageListing::depth(size_t i) const {
    return static_cast<int>(rec_at(idx_, i).depth);
}

size_t ImageListing::lower_bound(std::string_view key) const {
    size_t lo = 0, hi = count_;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (path(mid) < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

size_t ImageListing::after_prefix(std::string_view prefix) const {
    size_t lo = 0, hi = count_;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (path(mid).substr(0, prefix.size()) <= prefix)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

size_t ImageListing::find(std::string_view p) const {
    size_t i = lower_bound(p);
    return i < count_ && path(i) == p ? i : count_;
}

void ImageListing::for_each_in(std::string_view dir, int max_depth,
                               const std::function<void(size_t)> &fn) const {
    std::string d(dir);
    while (!d.empty() && d.back() == '/')
        d.pop_back();
    if (!d.empty()) {
        size_t f = find(d);
        if (f < count_)
            fn(f);
    }
    std::string prefix = d + "/";
    int base = path_depth(prefix);
    size_t i = lower_bound(prefix);
    while (i < count_) {
        std::string_view p = path(i);
        if (p.compare(0, prefix.size(), prefix) != 0)
            break;
        int level = depth(i) - base;
        if (max_depth >= 0 && level > max_depth) {
            // Skip the whole subtree of the ancestor at the deepest level
            // still listed: its prefix ends at slash number base+max_depth+1.
            int want = base + max_depth + 1;
            size_t cut = std::string_view::npos;
            int seen = 0;
            for (size_t k = 0; k < p.size(); ++k)
                if (p[k] == '/' && ++seen == want) {
                    cut = k;
                    break;
                }
            if (cut == std::string_view::npos) {
                ++i;
                continue;
            }
            i = std::max(i + 1, after_prefix(p.substr(0, cut + 1)));
            continue;
        }
        fn(i);
        ++i;
    }
}
