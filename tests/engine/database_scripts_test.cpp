// Database backups through kphdb: entries moved through standard streams
// (kpbackup -stdin, kprestore -stdout) on a real repository, with restic
// faults made real, and the example scripts run by kphdb against a real
// SQLite database and a real PostgreSQL server started by the test.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "engine_harness.h"

using harness::has;
using harness::read_file;
using harness::run;
using harness::write_file;

extern char **environ;

namespace {

// Runs prog (absolute) with args, standard input from in and standard
// output into out ("" for /dev/null); returns the exit status.
int run_io(const std::string &prog, const std::vector<std::string> &args, const std::string &in,
           const std::string &out) {
    std::vector<std::string> words = {prog};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        return -1;
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

std::string examples_dir() {
    const char *b = getenv("XKP_BUILD_DIR");
    return std::string(b != nullptr ? b : ".") + "/root/sorvane/scripts/examples";
}

class DatabaseScripts : public ::testing::Test {
  protected:
    void SetUp() override {
        // The scripts find the programs through SORVANE_BIN, below the root.
        std::filesystem::create_directory_symlink(harness::bin_dir(),
                                                  root_.root() + "/sorvane/bin");
        auto r = run("kpadmin", {"init-server", "demo"});
        ASSERT_EQ(r.status, 0) << r.err << r.out;
    }
    void TearDown() override { unsetenv("XKP_RESTIC"); }
    std::string bin(const char *prog) { return harness::bin_dir() + "/" + prog; }
    int store(const std::string &name, const std::string &data,
              std::vector<std::string> extra = {}) {
        write_file(root_.path("in"), data);
        extra.insert(extra.begin(), {"-stdin", name});
        return run_io(bin("kpbackup"), extra, root_.path("in"), "");
    }
    // Status and the bytes written.
    std::pair<int, std::string> fetch(const std::string &name,
                                      std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"-stdout", name});
        int st = run_io(bin("kprestore"), extra, "", root_.path("out"));
        return {st, read_file(root_.path("out"))};
    }
    // restic runs through a shell wrapper: line replaces "restic WORD ..."
    // (with "$@" the arguments); other commands run untouched.
    void wrap(const std::string &word, const std::string &line) {
        const std::string w = root_.path("restic-wrapper");
        write_file(w, "#!/bin/bash\ncase \" $* \" in *\" " + word + " \"*) " + line +
                          " ;; esac\nexec /usr/bin/restic \"$@\"\n");
        chmod(w.c_str(), 0755);
        setenv("XKP_RESTIC", w.c_str(), 1);
    }
    // kphdb with one script, waited for; its status and the log.
    std::pair<int, std::string> hdb(const char *action, const std::string &script) {
        write_file(root_.path("scripts"), script + "\n");
        write_file(root_.path("hlog"), "");
        int st =
            run("kphdb", {action, "-fork", "-rdbms", "oracle", "-S", "demo", "-c", "dbpolicy", "-k",
                          "nightly", "-L", root_.path("hlog"), "-f", root_.path("scripts")})
                .status;
        return {st, read_file(root_.path("hlog"))};
    }
    std::string listing(const std::string &dir) {
        return run("kplist", {"-B", "-R", "999", dir}).out;
    }
    harness::Root root_;
};

TEST_F(DatabaseScripts, StreamEntriesRoundTripAndRefuseWhatCannotBeStored) {
    // Refused before anything is stored.
    struct Refusal {
        const char *prog;
        std::vector<std::string> args;
        std::string input;
        int status;
    };
    const std::vector<Refusal> refusals = {
        {"kpbackup", {"-stdin", "relative/name"}, "x", 252},
        {"kpbackup", {"-stdin", "/a/../b"}, "x", 252},
        {"kpbackup", {"-stdin", "/a/"}, "x", 252},
        {"kpbackup", {"-stdin", "/db/x", "-f", "/dev/null"}, "x", 252},
        {"kparchive", {"-stdin", "/db/x"}, "x", 252},
        {"kpbackup", {"-stdin", "/db/empty"}, "", 2},
        {"kpbackup", {"-stdin", "/db/x", "-S", "nosuchserver"}, "x", 25},
        {"kprestore", {"-stdout", "/db/x", "-f", "/dev/null"}, "", 252},
        {"kprestore", {"-s", "0", "-f", "/dev/null"}, "", 252},
    };
    for (const auto &c : refusals) {
        write_file(root_.path("in"), c.input);
        EXPECT_EQ(run_io(bin(c.prog), c.args, root_.path("in"), ""), c.status) << c.args[1];
    }
    EXPECT_EQ(run("kplist", {"-B", "-R", "999", "/"}).status, 227);

    std::string v1(200000, '\0');
    for (size_t i = 0; i < v1.size(); ++i) {
        v1[i] = static_cast<char>(i * 7 % 251);
    }
    ASSERT_EQ(store("/db/x.dump", v1, {"-k", "first"}), 0);
    const std::string first_listing = listing("/db");
    EXPECT_TRUE(has(first_listing, " 200000 ")) << first_listing;
    // "/" is recorded as it is on disk (a restore of "/" sets that mode).
    struct stat root_st {};
    stat("/", &root_st);
    EXPECT_EQ(listing("/").rfind("1 " + std::to_string(root_st.st_mode) + " ", 0), 0u)
        << listing("/");
    sleep(1);
    ASSERT_EQ(store("/db/x.dump", "second\n"), 0);
    EXPECT_EQ(fetch("/db/x.dump"), std::make_pair(0, std::string("second\n")));
    // The first version, by a range that ends before the second image.
    const long long t1 = std::stoll(first_listing.substr(first_listing.rfind(" 200000 ") + 8));
    EXPECT_EQ(fetch("/db/x.dump", {"-s", "0", "-e", std::to_string(t1)}), std::make_pair(0, v1));
    // kprestore brings it back like any file, here redirected.
    write_file(root_.path("rreq"), harness::image_entry("/db/x.dump", 0, 2147483646));
    write_file(root_.path("ren"), "change /db/x.dump to " + root_.data() + "/x.dump\n");
    EXPECT_EQ(run("kprestore", {"-R", root_.path("ren"), "-f", root_.path("rreq")}).status, 0);
    EXPECT_EQ(read_file(root_.data() + "/x.dump"), "second\n");
    EXPECT_EQ(fetch("/db/none").first, 190);
    EXPECT_EQ(fetch("/db").first, 252);
    EXPECT_EQ(fetch("/db/x.dump", {"-e", "yesterday"}).first, 108);

    // restic that reads only part of the input, or fails, stores nothing;
    // a dump cut short is a failed restore.
    const std::string before = listing("/db");
    wrap("backup", "head -c 1000 | /usr/bin/restic \"$@\"; exit");
    EXPECT_EQ(store("/db/x.dump", v1), 6);
    wrap("backup", "exit 1");
    EXPECT_EQ(store("/db/x.dump", v1), 6);
    EXPECT_EQ(listing("/db"), before);
    wrap("dump", "/usr/bin/restic \"$@\" | head -c 3; exit 0");
    EXPECT_EQ(fetch("/db/x.dump").first, 5);
}

TEST_F(DatabaseScripts, SqliteExampleScriptsBackUpAndRestoreThroughKphdb) {
    const std::string db = root_.data() + "/app.db";
    auto sql = [&](const std::string &q) {
        write_file(root_.path("q.sql"), q);
        run_io("/usr/bin/sqlite3", {db, ".read " + root_.path("q.sql")}, "", root_.path("q.out"));
        return read_file(root_.path("q.out"));
    };
    sql("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT);"
        "INSERT INTO t VALUES (1, 'one'), (2, 'it''s two'), (3, 'three');");
    const std::string query = "SELECT id, name FROM t ORDER BY id;";
    const std::string saved = sql(query);
    ASSERT_TRUE(has(saved, "it's two"));
    setenv("SQLITE_DATABASE", db.c_str(), 1);
    auto [st, log] = hdb("-ub", examples_dir() + "/sqlite_backup");
    EXPECT_EQ(st, 0) << log;
    EXPECT_TRUE(has(log, "| SQLite backup of " + db + " (request kind: oracle)")) << log;
    EXPECT_TRUE(has(listing("/databases/sqlite"), db));
    // The request's policy and keyword are the image's.
    const std::string images =
        run("kpclimagelist", {"-t", "NOT_ARCHIVE", "-d", "0", "-e", "2147483646"}).out;
    EXPECT_TRUE(has(images, "dbpolicy") && has(images, "nightly")) << images;

    sql("DELETE FROM t WHERE id = 2; UPDATE t SET name = 'changed';");
    ASSERT_NE(sql(query), saved);
    std::tie(st, log) = hdb("-r", examples_dir() + "/sqlite_restore");
    EXPECT_EQ(st, 0) << log;
    EXPECT_EQ(sql(query), saved);

    // A script that fails: its message and status reach the log, and the
    // request fails with the backup's status.
    setenv("SQLITE_DATABASE", (root_.data() + "/missing.db").c_str(), 1);
    std::tie(st, log) = hdb("-ub", examples_dir() + "/sqlite_backup");
    unsetenv("SQLITE_DATABASE");
    EXPECT_EQ(st, 6);
    EXPECT_TRUE(has(log, "| no database file")) << log;
    EXPECT_TRUE(has(log, "exit status 2")) << log;
}

// A PostgreSQL server of the test's own: initdb and postgres run as nobody
// in a temporary directory, listening on a free loopback port only; stopped
// when the object goes, whatever the test did.
class PgServer {
  public:
    static constexpr const char *BIN = "/usr/lib/postgresql/15/bin";
    explicit PgServer(const std::string &dir) : dir_(dir) {
        if (access((std::string(BIN) + "/initdb").c_str(), X_OK) != 0) {
            why_ = "PostgreSQL 15 is not installed";
            return;
        }
        mkdir(dir_.c_str(), 0700);
        if (chown(dir_.c_str(), 65534, 65534) != 0) {
            why_ = "cannot give the data directory to nobody (not root?)";
            return;
        }
        if (as_nobody({"initdb", "-D", dir_ + "/data", "-A", "trust", "-U", "dbadmin",
                       "--no-sync"}) != 0) {
            why_ = "initdb failed";
            return;
        }
        port_ = free_port();
        started_ = as_nobody({"pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w",
                              "-o", "-k " + dir_ + " -p " + std::to_string(port_) + " -h 127.0.0.1",
                              "start"}) == 0;
        if (!started_) {
            why_ = "the server did not start: " + read_file(dir_ + "/server.log");
        }
    }
    ~PgServer() {
        if (started_) {
            as_nobody({"pg_ctl", "-D", dir_ + "/data", "-m", "immediate", "-w", "stop"});
        }
    }
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;
    bool up() const { return started_; }
    const std::string &why() const { return why_; }
    int port() const { return port_; }

  private:
    int as_nobody(std::vector<std::string> args) {
        args[0] = std::string(BIN) + "/" + args[0];
        args.insert(args.begin(), {"-u", "nobody", "--"});
        return run_io("/usr/sbin/runuser", args, "", "");
    }
    static int free_port() {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
        close(s);
        return ntohs(a.sin_port);
    }
    std::string dir_, why_;
    int port_ = 0;
    bool started_ = false;
};

TEST_F(DatabaseScripts, PostgresqlExampleScriptsBackUpAndRestoreThroughKphdb) {
    chmod(root_.base().c_str(), 0711); // nobody reaches its own directory below
    PgServer pg(root_.path("pg"));
    if (!pg.up()) {
        GTEST_SKIP() << pg.why();
    }
    setenv("PGHOST", "127.0.0.1", 1);
    setenv("PGPORT", std::to_string(pg.port()).c_str(), 1);
    setenv("PGUSER", "dbadmin", 1);
    setenv("PGDATABASE", "postgres", 1);
    auto psql = [&](const std::string &q) {
        run_io("/usr/bin/psql", {"-X", "-A", "-t", "-c", q}, "", root_.path("q.out"));
        return read_file(root_.path("q.out"));
    };
    psql("CREATE TABLE accounts(id int PRIMARY KEY, owner text, balance numeric);"
         "INSERT INTO accounts SELECT i, 'owner ' || i, i * 1.5 FROM generate_series(1, 500) i;");
    const std::string query = "SELECT id, owner, balance FROM accounts ORDER BY id";
    const std::string saved = psql(query);
    ASSERT_TRUE(has(saved, "500|owner 500|750.0")) << saved;

    auto [st, log] = hdb("-ub", examples_dir() + "/postgresql_backup");
    EXPECT_EQ(st, 0) << log;
    EXPECT_TRUE(has(listing("/databases/postgresql"), "/databases/postgresql/postgres.sql"));
    psql("DROP TABLE accounts");
    ASSERT_EQ(psql(query), "");
    std::tie(st, log) = hdb("-r", examples_dir() + "/postgresql_restore");
    EXPECT_EQ(st, 0) << log;
    EXPECT_EQ(psql(query), saved);

    // pg_dump failing (an unknown database) fails the request; its message
    // is in the log.
    setenv("PGDATABASE", "nosuchdb", 1);
    std::tie(st, log) = hdb("-ub", examples_dir() + "/postgresql_backup");
    EXPECT_EQ(st, 6);
    EXPECT_TRUE(has(log, "nosuchdb")) << log;
    for (const char *v : {"PGHOST", "PGPORT", "PGUSER", "PGDATABASE"}) {
        unsetenv(v);
    }
}

} // namespace
