// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/vsftpd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace nsk::test {
namespace {

// How vsftpd is made to serve a user login here, and why it needs root:
// - Run as anybody but root, vsftpd must use run_as_launching_user, which puts it into its
//   one-process model; that model knows anonymous logins only ("bad state in
//   vsf_one_process_login" for any other).
// - Run as root, vsftpd asks PAM, whose services live only in /etc/pam.d. A checking
//   program under pam_exec deadlocks vsftpd (its SIGCHLD handler reaps the program and then
//   waits for its own child), pam_unix would need a system account with a known password and
//   pam_userdb a database tool that is not installed. So the service admits every login it
//   is asked about, and the server admits one virtual user: its user list (in the temporary
//   folder) names only that user and the anonymous ones, guest_enable maps it to the
//   unprivileged "ftp" account, chroot keeps it in its own root, and the server listens on
//   127.0.0.1 only, for the life of one test. The password is therefore not checked.
constexpr const char* kPamText =
    "# PAM service of the vsftpd servers that NetSkimbler's tests start on 127.0.0.1\n"
    "# (tests/support/net/vsftpd.cpp). Those servers admit one virtual user named in their\n"
    "# own configuration. Nothing else uses this service; the file may be deleted.\n"
    "auth     required pam_permit.so\n"
    "account  required pam_permit.so\n"
    "session  required pam_permit.so\n"
    "password required pam_deny.so\n";

}  // namespace

TVsftpd::TVsftpd(TVsftpdOptions options) : TPeerServer("vsftpd"), options_(std::move(options)) {
  if (options_.UserLogin) {
    if (!RunningAsRoot())
      throw std::runtime_error(
          "vsftpd serves user logins only when started as root: run as another user it falls "
          "back to its one-process model, which knows anonymous logins only. Run this test as "
          "root (as CI does).");
    EnsurePamService();
  }
  // Run as root, each login is shown its root through chroot, which vsftpd allows only into a
  // folder its user cannot write: the folders are root's and 0755.
  for (const char* f : {"anon", "user", "empty"}) {
    MakeFolder(f);
    ::chmod(File(f).c_str(), 0755);
  }
  Start();
}

TVsftpd::~TVsftpd() { Stop(); }

void TVsftpd::EnsurePamService() {
  const std::string path = std::string("/etc/pam.d/") + kPamService;
  if (std::filesystem::exists(path)) return;
  // Tests running side by side may both make it: each writes a file of its own and renames it.
  const std::string temp = path + ".new." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << kPamText;
    if (!out) throw std::runtime_error("vsftpd: cannot write " + temp);
  }
  ::chmod(temp.c_str(), 0644);
  std::filesystem::rename(temp, path);
}

void TVsftpd::AddFile(const std::string& path, std::string_view content, bool user) const {
  const std::string name = std::string(user ? "user/" : "anon/") + path;
  WriteFile(name, content);
  // Run as root the sessions read as the unprivileged "ftp" account, whatever the umask.
  const std::filesystem::path root = File(user ? "user" : "anon");
  const std::filesystem::path file = File(name);
  ::chmod(file.c_str(), 0644);
  for (auto p = file.parent_path(); p.string().size() > root.string().size(); p = p.parent_path())
    ::chmod(p.c_str(), 0755);
}

std::string TVsftpd::Path(const std::string& path, bool user) const {
  const std::string p = path.empty() || path[0] != '/' ? path : path.substr(1);
  if (RunningAsRoot()) return "/" + p;
  return (user ? UserRoot() : AnonRoot()) + p;
}

std::string TVsftpd::Url(const std::string& path, bool user) const {
  return "ftp://127.0.0.1:" + std::to_string(port_) + Path(path, user);
}

void TVsftpd::ChoosePorts() {
  port_ = FreeLoopbackPort();
  // A few ports for passive data connections: vsftpd takes one at random and tries another
  // when it is taken.
  pasvMin_ = FreeLoopbackPort();
  if (pasvMin_ == port_) pasvMin_ = FreeLoopbackPort();
  pasvMax_ = static_cast<std::uint16_t>(pasvMin_ > 65535 - 15 ? 65535 : pasvMin_ + 15);
  if (port_ >= pasvMin_ && port_ <= pasvMax_) pasvMax_ = pasvMin_;
}

void TVsftpd::WriteConfig() {
  const std::string d = Folder();
  std::string c;
  auto set = [&c](const std::string& key, const std::string& value) {
    c += key + "=" + value + "\n";
  };
  set("listen", "YES");
  set("listen_ipv6", "NO");
  set("listen_address", "127.0.0.1");
  set("listen_port", std::to_string(port_));
  set("background", "NO");
  set("anonymous_enable", "YES");
  set("anon_root", AnonRoot());
  set("no_anon_password", "NO");
  set("write_enable", "NO");
  set("dirmessage_enable", "NO");
  set("pasv_enable", "YES");
  set("pasv_address", "127.0.0.1");
  set("pasv_min_port", std::to_string(pasvMin_));
  set("pasv_max_port", std::to_string(pasvMax_));
  set("port_enable", "YES");
  set("connect_from_port_20", "NO");
  set("secure_chroot_dir", File("empty"));
  // Sandboxes and namespaces are often refused inside containers; the tests need neither.
  set("seccomp_sandbox", "NO");
  set("isolate", "NO");
  set("isolate_network", "NO");
  set("vsftpd_log_file", LogFile());
  set("xferlog_enable", "YES");
  set("xferlog_file", File("xferlog"));
  set("dual_log_enable", "YES");
  set("log_ftp_protocol", "YES");
  set("delay_failed_login", "0");
  if (RunningAsRoot()) {
    set("nopriv_user", "nobody");
    set("ftp_username", "ftp");
  } else {
    set("run_as_launching_user", "YES");
  }
  if (options_.UserLogin) {
    set("local_enable", "YES");
    set("pam_service_name", kPamService);
    set("guest_enable", "YES");
    set("guest_username", "ftp");
    set("chroot_local_user", "YES");
    set("local_root", UserRoot());
    set("userlist_enable", "YES");
    set("userlist_deny", "NO");
    set("userlist_file", File("users"));
    WriteFile("users", std::string(kUser) + "\nanonymous\nftp\n");
  } else {
    set("local_enable", "NO");
  }
  for (const auto& line : options_.Extra) c += line + "\n";
  WriteFile("vsftpd.conf", c);
  // vsftpd refuses a configuration file that somebody else could have written.
  ::chmod(File("vsftpd.conf").c_str(), 0600);
}

std::vector<std::string> TVsftpd::Command() const {
  // vsftpd reports a failed start ("500 OOPS: ...") on descriptor 0, where an FTP client would
  // be in inetd mode: that descriptor goes to a file of its own.
  return {"/bin/sh", "-c", "exec \"$0\" \"$1\" 0<>\"$2\"", FindProgram("vsftpd"),
          File("vsftpd.conf"), File("startup.log")};
}

std::vector<std::uint16_t> TVsftpd::ReadyPorts() const { return {port_}; }

std::vector<std::string> TVsftpd::LogFiles() const { return {File("startup.log"), LogFile()}; }

}  // namespace nsk::test
