#include "Gatekeeper.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "Crypto.h"
#include "Files.h"
#include "Gedcom.h"

namespace tarnix::service {

namespace fs = std::filesystem;

namespace {

// In the clients' vocabulary: every site here is a private site ("PRIV") of the one user who owns
// it, who administers it and its trees ("ADMN": view, upload and replace, export and download,
// manage). Clients offer only private sites with the rights ADMN, USER or GEST.
const char* const kOwnerRights = "ADMN";
const char* const kOwnerSiteRights = "PRIV";

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string XmlAnswer(std::string_view op, std::string_view content) {
    std::string body = "<?xml version=\"1.0\"?>\n<gatekeeper op=\"";
    body.append(XmlEscape(op)).append("\">").append(content).append("</gatekeeper>\n");
    return body;
}

std::string Required(const Call& call, const char* name) {
    auto found = call.query.find(name);
    if (found == call.query.end() || TrimSpace(found->second).empty())
        throw ServiceError(hr::kInvalidArg, std::string(name) + " is missing");
    return found->second;
}

std::int64_t RequiredId(const Call& call, const char* name) {
    auto text = std::string(TrimSpace(Required(call, name)));
    if (text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        throw ServiceError(hr::kInvalidArg, std::string(name) + " must be a number");
    return std::stoll(text);
}

// Names of trees and sites come back in every list, so they stay printable and short.
std::string RequiredName(const Call& call, const char* name) {
    auto text = std::string(TrimSpace(Required(call, name)));
    if (text.size() > 200) throw ServiceError(hr::kInvalidArg, std::string(name) + " is longer than 200 bytes");
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) throw ServiceError(hr::kInvalidArg, std::string(name) + " holds a control character");
    return text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ServiceError(hr::kFail, "cannot read " + path.string());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ServiceError(hr::kFail, "cannot read " + path.string());
    return bytes;
}

// The password hashes and the private trees are for the service's user alone.
std::string PrepareData(const GatekeeperOptions& options) {
    if (!fs::exists(options.dataDir)) {
        if (options.dataDir.has_parent_path()) fs::create_directories(options.dataDir.parent_path());
        PrivateFolder(options.dataDir);
    }
    for (const char* dir : {"trees", "files"}) PrivateFolder(options.dataDir / dir);
    PrivateFile(options.dataDir / "tarnix.db");
    return (options.dataDir / "tarnix.db").string();
}

}  // namespace

Gatekeeper::Gatekeeper(GatekeeperOptions options)
    : options_(std::move(options)),
      treesDir_(options_.dataDir / "trees"),
      filesDir_(options_.dataDir / "files"),
      store_(PrepareData(options_)),
      trees_(
          [this] {
              std::vector<fs::path> paths;
              for (const auto& file : store_.PublicTreeFiles()) paths.push_back(treesDir_ / file);
              return paths;
          },
          options_.index),
      records_(
          [dir = options_.recordsDir.empty() ? options_.dataDir / "records" : options_.recordsDir] {
              std::vector<fs::path> paths;
              std::error_code error;
              for (const auto& entry : fs::directory_iterator(dir, error))
                  if (entry.is_regular_file() && EqualsNoCase(entry.path().extension().string(), ".ged"))
                      paths.push_back(entry.path());
              return paths;
          },
          options_.index) {
    // A crash may have left partial files, or stored files that no row came to name.
    auto named = store_.StoredFiles();
    RemoveLeftovers(treesDir_, named);
    RemoveLeftovers(filesDir_, named);
}

std::int64_t Gatekeeper::Now() const {
    if (options_.clock) return options_.clock();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

Answer Gatekeeper::ErrorAnswer(std::string_view op, std::uint32_t hresult, std::string_view message) {
    return Answer{"text/xml",
                  XmlAnswer(op, "<error>" + XmlElement("hresult", Hex(hresult)) + XmlElement("message", message) +
                                    "</error>"),
                  hresult};
}

Answer Gatekeeper::Handle(const Call& call) {
    using Operation = std::string (Gatekeeper::*)(const Call&);
    static const std::pair<const char*, Operation> operations[] = {
        {"apilogin", &Gatekeeper::ApiLogin},       {"apilistusersites", &Gatekeeper::ApiListUserSites},
        {"oftlist", &Gatekeeper::OftList},         {"oftcreate", &Gatekeeper::OftCreate},
        {"oftreplace", &Gatekeeper::OftReplace},   {"oftexport", &Gatekeeper::OftExport},
        {"oftdownload", &Gatekeeper::OftDownload}, {"versioncompare", &Gatekeeper::VersionCompare},
    };
    auto found = call.query.find("op");
    std::string op = found == call.query.end() ? std::string() : LowerAscii(found->second);
    if (op == "treesearchcount") return SearchCount(trees_, call);
    if (op == "datasearchcount") return SearchCount(records_, call);
    try {
        if (op.empty()) throw ServiceError(hr::kInvalidArg, "op is missing");
        for (const auto& [name, operation] : operations)
            if (op == name) return Answer{"text/xml", XmlAnswer(op, "<ok/>" + (this->*operation)(call)), 0};
        throw ServiceError(hr::kNotImplemented, "unknown operation: " + op);
    } catch (const ServiceError& error) {
        return ErrorAnswer(op, error.hresult(), error.what());
    } catch (const std::exception& error) {
        return ErrorAnswer(op, hr::kFail, error.what());
    }
}

// Search counts answer plain text: "matches,files with a match,individuals searched", or the
// word Error.
Answer Gatekeeper::SearchCount(Collection& collection, const Call& call) {
    try {
        auto counts = collection.Count(SearchQuery::FromQuery(call.query));
        return Answer{"text/plain",
                      std::to_string(counts.matches) + "," + std::to_string(counts.filesMatched) + "," +
                          std::to_string(counts.searched),
                      0};
    } catch (const ServiceError& error) {
        return Answer{"text/plain", "Error", error.hresult()};
    } catch (const std::exception&) {
        return Answer{"text/plain", "Error", hr::kFail};
    }
}

std::int64_t Gatekeeper::SignedInUser(const Call& call) {
    auto found = call.query.find("att");
    const std::string& ticket = found != call.query.end() ? found->second : call.cookieTicket;
    if (ticket.empty()) throw ServiceError(hr::kNotSignedIn, "sign in first: the ticket (att) is missing");
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    auto session = sessions_.find(ticket);
    if (session == sessions_.end()) throw ServiceError(hr::kNotSignedIn, "the ticket is not known; sign in again");
    if (Now() >= session->second.expiresAt) throw ServiceError(hr::kTicketExpired, "the ticket has expired; sign in again");
    return session->second.userId;
}

// Another user's site or tree is answered as a missing one, so that numbers cannot be probed.
SiteRecord Gatekeeper::OwnedSite(std::int64_t userId, std::int64_t siteId) {
    auto site = store_.FindSite(siteId);
    if (!site || site->userId != userId) throw ServiceError(hr::kNotFound, "there is no site " + std::to_string(siteId));
    return *site;
}

TreeRecord Gatekeeper::OwnedTree(std::int64_t userId, std::int64_t treeId) {
    auto tree = store_.FindTree(treeId);
    if (!tree || tree->userId != userId)
        throw ServiceError(hr::kNotFound, "there is no online tree " + std::to_string(treeId));
    return *tree;
}

std::string Gatekeeper::ReceiveUpload(const Call& call, const char* op) {
    if (!call.isPost || !call.readUpload)
        throw ServiceError(hr::kInvalidArg, std::string(op) +
                                                " takes the GEDCOM file as the part \"f1\" of a "
                                                "multipart/form-data POST; this GET carries no file");
    NewFile file(treesDir_);
    std::string head;  // enough of the start for the GEDCOM check
    bool found = call.readUpload([&](const char* data, std::size_t size) {
        if (head.size() < 4096) head.append(data, std::min(size, 4096 - head.size()));
        file.Write(std::string_view(data, size));
    });
    if (!found) throw ServiceError(hr::kInvalidArg, "the POST has no multipart/form-data part named \"f1\"");
    if (!LooksLikeGedcom(head))
        throw ServiceError(hr::kInvalidData, "the file is not GEDCOM: it must begin with a \"0 HEAD\" record");
    return file.Commit();
}

void Gatekeeper::RemoveFile(const fs::path& dir, const std::string& name) {
    if (name.empty()) return;
    std::error_code ignored;
    fs::remove(dir / name, ignored);
}

// DownloadStatus: 0 no export, 1 export being prepared, 2 export ready for download.
std::string Gatekeeper::TreeXml(const TreeRecord& tree) {
    int status = tree.exportFile.empty() ? 0 : Now() < tree.exportReadyAt ? 1 : 2;
    return "<oft>" + XmlElement("SiteID", std::to_string(tree.siteId)) + XmlElement("SiteName", tree.siteName) +
           XmlElement("CollectionID", std::to_string(tree.id)) + XmlElement("OFTName", tree.name) +
           XmlElement("Permission", kOwnerRights) + XmlElement("DownloadStatus", std::to_string(status)) + "</oft>";
}

std::string Gatekeeper::ApiLogin(const Call& call) {
    auto name = Required(call, "username");
    auto now = Now();
    if (auto wait = throttle_.WaitFor(name, call.client, now))
        throw ServiceError(hr::kLockedOut, "too many failed sign-ins: try again in " + std::to_string(wait) + " s");
    auto found = call.query.find("password");
    std::string password = found == call.query.end() ? std::string() : found->second;
    auto user = store_.FindUser(name);
    // An unknown name costs as much as a wrong password, so answers do not tell names apart.
    static const std::string unknownSalt(16, '\0');
    auto hash = HashPassword(password, user ? user->salt : unknownSalt, user ? user->iterations : options_.hashIterations);
    if (!user || !SameSecret(hash, user->hash)) {
        throttle_.Failed(name, call.client, now);
        throw ServiceError(hr::kLogonFailure, "wrong user name or password");
    }
    throttle_.Succeeded(name);

    auto ticket = RandomHex(32);
    {
        std::lock_guard<std::mutex> lock(sessionsMutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();)
            it = it->second.expiresAt + 24 * 3600 < now ? sessions_.erase(it) : std::next(it);
        sessions_[ticket] = Session{user->id, now + options_.ticketLifetime};
    }
    return "<user>" + XmlElement("ATT", ticket) + XmlElement("UserName", user->name) +
           XmlElement("ExpiresIn", std::to_string(options_.ticketLifetime)) + "</user>";
}

std::string Gatekeeper::ApiListUserSites(const Call& call) {
    std::string rows = "<sites>";
    for (const auto& site : store_.Sites(SignedInUser(call)))
        rows += "<Site>" + XmlElement("SiteID", std::to_string(site.id)) + XmlElement("SiteName", site.name) +
                XmlElement("SiteRights", kOwnerSiteRights) + XmlElement("Rights", kOwnerRights) + "</Site>";
    return rows + "</sites>";
}

std::string Gatekeeper::OftList(const Call& call) {
    std::string rows = "<trees>";
    for (const auto& tree : store_.Trees(SignedInUser(call))) rows += TreeXml(tree);
    return rows + "</trees>";
}

std::string Gatekeeper::OftCreate(const Call& call) {
    auto userId = SignedInUser(call);
    auto siteId = RequiredId(call, "siteid");
    auto name = RequiredName(call, "oftname");
    auto forvwt = call.query.count("forvwt") ? LowerAscii(call.query.at("forvwt")) : std::string("n");
    if (forvwt != "y" && forvwt != "n") throw ServiceError(hr::kInvalidArg, "forvwt must be Y or N");
    OwnedSite(userId, siteId);
    auto treeId = AddTree(siteId, name, forvwt == "y", ReceiveUpload(call, "oftcreate"));
    return TreeXml(*store_.FindTree(treeId));
}

std::string Gatekeeper::OftReplace(const Call& call) {
    auto userId = SignedInUser(call);
    auto treeId = RequiredId(call, "collectionid");
    OwnedTree(userId, treeId);
    auto file = ReceiveUpload(call, "oftreplace");
    TreeRecord before;
    try {
        before = store_.ReplaceTreeFile(treeId, file);
    } catch (...) {
        RemoveFile(treesDir_, file);
        throw;
    }
    RemoveFile(treesDir_, before.file);
    RemoveFile(filesDir_, before.exportFile);
    return TreeXml(*store_.FindTree(treeId));
}

// The export is a copy of the stored file under a new random name in the served folder; the
// name is the only key to it. It is kept only if the tree still holds the file that was copied:
// a replacement that came meanwhile is copied in its turn.
std::string Gatekeeper::OftExport(const Call& call) {
    auto userId = SignedInUser(call);
    auto treeId = RequiredId(call, "collectionid");
    for (int attempt = 1;; ++attempt) {
        auto tree = OwnedTree(userId, treeId);
        std::string file;
        try {
            NewFile copy(filesDir_);
            copy.CopyFrom(treesDir_ / tree.file);
            file = copy.Commit();
        } catch (const ServiceError&) {
            if (attempt < 3 && OwnedTree(userId, treeId).file != tree.file) continue;  // replaced and removed
            throw;
        }
        if (options_.beforeExportCommit) options_.beforeExportCommit();
        std::optional<TreeRecord> before;
        try {
            before = store_.SetExport(tree.id, tree.file, file, Now() + options_.exportDelay);
        } catch (...) {
            RemoveFile(filesDir_, file);
            throw;
        }
        if (!before) {
            RemoveFile(filesDir_, file);
            if (attempt < 3) continue;
            throw ServiceError(hr::kFail, "the tree kept changing during the export; try again");
        }
        RemoveFile(filesDir_, before->exportFile);
        return TreeXml(*store_.FindTree(tree.id));
    }
}

std::string Gatekeeper::OftDownload(const Call& call) {
    auto userId = SignedInUser(call);
    auto tree = OwnedTree(userId, RequiredId(call, "collectionid"));
    if (tree.exportFile.empty()) throw ServiceError(hr::kNoExport, "the tree has no export: ask for one with oftexport");
    if (Now() < tree.exportReadyAt) throw ServiceError(hr::kExportPending, "the export is still being prepared");
    return XmlElement("GEDCOMFile", "http://" + call.authority + "/files/" + tree.exportFile);
}

std::string Gatekeeper::VersionCompare(const Call&) {
    return "<xapi>" + XmlElement("exe", options_.exeVersion) + XmlElement("webctl", options_.webctlVersion) +
           XmlElement("tarnix", options_.tarnixVersion) + "</xapi>";
}

std::int64_t Gatekeeper::EnsureUser(std::string_view name, std::string_view password) {
    auto salt = RandomBytes(16);
    auto hash = HashPassword(password, salt, options_.hashIterations);
    if (auto user = store_.FindUser(name)) {
        store_.SetPassword(user->id, salt, hash, options_.hashIterations);
        return user->id;
    }
    auto userId = store_.AddUser(name, salt, hash, options_.hashIterations);
    store_.AddSite(userId, std::string(name) + "'s trees");
    return userId;
}

std::int64_t Gatekeeper::AddSite(std::int64_t userId, std::string_view name) { return store_.AddSite(userId, name); }

std::int64_t Gatekeeper::AddTree(std::int64_t siteId, std::string_view name, bool isPublic, const std::string& file) {
    try {
        return store_.AddTree(siteId, name, isPublic, file);
    } catch (...) {
        RemoveFile(treesDir_, file);
        throw;
    }
}

bool Gatekeeper::SeedDemo(const fs::path& gedcom) {
    if (store_.FindUser(kDemoUser)) return false;
    auto bytes = ReadFile(gedcom);
    if (!LooksLikeGedcom(bytes)) throw ServiceError(hr::kInvalidData, gedcom.string() + " is not GEDCOM");
    auto salt = RandomBytes(16);
    auto userId = store_.AddUser(kDemoUser, salt, HashPassword(kDemoPassword, salt, options_.hashIterations),
                                 options_.hashIterations);
    auto family = store_.AddSite(userId, "The Haverfield family");
    store_.AddSite(userId, "Cousins in Ohio");
    NewFile file(treesDir_);
    file.Write(bytes);
    AddTree(family, "Haverfield family tree", true, file.Commit());
    return true;
}

}  // namespace tarnix::service
