// Browser cookie stores for tests: Safari jars, Chrome cookie databases and Firefox
// cookies.sqlite files with given hosts, written with the browsers' own table layouts.
#pragma once

#include <string>
#include <vector>

namespace hvn::test {

// A Cookies.binarycookies jar holding one cookie per domain (name "id", path "/").
void writeSafariJar(const std::string& path, const std::vector<std::string>& domains);
// The domains of a jar, in file order; empty when it cannot be read.
std::vector<std::string> safariJarDomains(const std::string& path);

// A Chrome "Cookies" database (the cookies and meta tables of a recent Chrome) with one
// cookie per host.
void writeChromeStore(const std::string& path, const std::vector<std::string>& hosts);
// A Firefox cookies.sqlite with one cookie per host; withBaseDomain gives the old schema,
// whose baseDomain is the host without its leading dot.
void writeFirefoxStore(const std::string& path, const std::vector<std::string>& hosts, bool withBaseDomain);
// The hosts of a store's table ("cookies" host_key or "moz_cookies" host), sorted.
std::vector<std::string> storeHosts(const std::string& path);

}  // namespace hvn::test
