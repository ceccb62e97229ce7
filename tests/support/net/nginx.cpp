// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/nginx.h"

namespace nsk::test {

TNginx::TNginx(TNginxOptions options) : TPeerServer("nginx"), options_(std::move(options)) {
  MakeFolder("www");
  Start();
}

TNginx::~TNginx() { Stop(); }

void TNginx::AddFile(const std::string& path, std::string_view content) const {
  WriteFile("www/" + path, content);
}

std::string TNginx::Url(const std::string& path, bool second) const {
  const std::string p = path.empty() || path[0] != '/' ? "/" + path : path;
  return "http://127.0.0.1:" + std::to_string(second ? SecondPort() : Port()) + p;
}

void TNginx::ChoosePorts() {
  ports_[0] = FreeLoopbackPort();
  ports_[1] = options_.Second ? FreeLoopbackPort() : 0;
}

std::string TNginx::ServerBlock(const TNginxSite& site, std::uint16_t port) const {
  std::string s = "  server {\n";
  s += "    listen 127.0.0.1:" + std::to_string(port) + ";\n";
  s += "    server_name localhost;\n";
  s += "    root " + DocRoot() + ";\n";
  if (site.NoRanges) s += "    max_ranges 0;\n";
  for (const auto& r : site.Redirects)
    s += "    location = " + r.From + " { return " + std::to_string(r.Code) + " " + r.To + "; }\n";
  if (!site.Extra.empty()) s += "    " + site.Extra + "\n";
  s += "  }\n";
  return s;
}

void TNginx::WriteConfig() {
  const std::string d = Folder();
  std::string c;
  c += "daemon off;\n";
  c += "master_process on;\n";
  c += "worker_processes 1;\n";
  c += "pid " + d + "nginx.pid;\n";
  c += "error_log " + d + "error.log info;\n";
  // Run as root the workers would otherwise switch to "nobody", who cannot read the
  // private temporary folder; as anybody else the directive is not allowed.
  if (RunningAsRoot()) c += "user root;\n";
  c += "events { worker_connections 256; }\n";
  c += "http {\n";
  c += "  access_log " + d + "access.log;\n";
  for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    c += std::string("  ") + t + "_temp_path " + d + "temp/" + t + ";\n";
  c += "  types { text/html html htm; text/plain txt; }\n";
  c += "  default_type application/octet-stream;\n";
  c += "  sendfile on;\n";
  c += "  keepalive_timeout 5;\n";
  if (!options_.ExtraHttp.empty()) c += "  " + options_.ExtraHttp + "\n";
  c += ServerBlock(options_.Site, ports_[0]);
  if (options_.Second) c += ServerBlock(*options_.Second, ports_[1]);
  c += "}\n";
  MakeFolder("temp");
  WriteFile("nginx.conf", c);
}

std::vector<std::string> TNginx::Command() const {
  const std::string d = Folder();
  return {FindProgram("nginx"), "-p", d, "-c", d + "nginx.conf", "-e", d + "error.log"};
}

std::vector<std::uint16_t> TNginx::ReadyPorts() const {
  if (options_.Second) return {ports_[0], ports_[1]};
  return {ports_[0]};
}

std::vector<std::string> TNginx::LogFiles() const { return {File("error.log")}; }

}  // namespace nsk::test
