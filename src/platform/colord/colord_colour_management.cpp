#include "platform/colord/colord_colour_management.hpp"

#include <colord.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/colord/call_deadline.hpp"
#include "platform/colord/user_icc_store.hpp"

namespace pp::colord {

namespace {

// Queries may run on the presenter's main thread; an assignment runs only on its one-shot road.
constexpr auto QUERY_LIMIT = std::chrono::milliseconds(2000);
constexpr auto ASSIGN_LIMIT = std::chrono::milliseconds(5000);

template <typename T>
struct Unref {
    void operator()(T* object) const
    {
        if (object) g_object_unref(object);
    }
};

template <typename T>
using Ref = std::unique_ptr<T, Unref<T>>;

// A GError out-parameter that frees what it holds.
class Error {
public:
    Error() = default;
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    ~Error() { clear(); }
    GError** out()
    {
        clear();
        return &error_;
    }

private:
    void clear()
    {
        if (error_) g_error_free(error_);
        error_ = nullptr;
    }
    GError* error_ = nullptr;
};

void dropMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

GLogWriterOutput dropStructuredMessage(GLogLevelFlags, const GLogField*, gsize, gpointer)
{
    return G_LOG_WRITER_HANDLED;
}

// GLib and libcolord report problems on standard error by default; this program answers them on
// standard output instead, so their messages are dropped.
void silenceGLib()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_default_handler(dropMessage, nullptr);
        g_log_set_writer_func(dropStructuredMessage, nullptr, nullptr);
    });
}

// The profiles of `device`, each with a reference of its own (the device's list changes as
// profiles are added and removed).
std::vector<Ref<CdProfile>> profilesOf(CdDevice* device)
{
    std::vector<Ref<CdProfile>> list;
    GPtrArray* profiles = cd_device_get_profiles(device);
    if (!profiles) return list;
    for (guint i = 0; i < profiles->len; ++i) {
        auto* profile = static_cast<CdProfile*>(g_ptr_array_index(profiles, i));
        list.emplace_back(static_cast<CdProfile*>(g_object_ref(profile)));
    }
    g_ptr_array_unref(profiles);
    return list;
}

// Whether two paths name the same file (either may be a link to it).
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
}

}  // namespace

struct ColordColourManagement::State {
    CdClient* client = nullptr;
    bool connected = false;
    bool absent = false;  // a call ran out of time: colord counts as gone for good

    ~State()
    {
        if (client) g_object_unref(client);
    }

    // A failed call: one cut off by its deadline marks colord absent.
    void failed(const CallDeadline& deadline)
    {
        if (deadline.passed()) absent = true;
    }

    // The client connected to colord, or null (no bus, no colord, or out of time).
    CdClient* connectedClient(CallDeadline& deadline)
    {
        if (absent) return nullptr;
        if (!client) client = cd_client_new();
        if (connected) return client;
        Error error;
        if (!cd_client_connect_sync(client, deadline.cancellable(), error.out())) {
            failed(deadline);
            return nullptr;
        }
        connected = true;
        return client;
    }

    // The connected device with colord's id `id`, or none.
    Ref<CdDevice> device(const std::string& id, CallDeadline& deadline)
    {
        CdClient* c = connectedClient(deadline);
        if (!c) return nullptr;
        Error error;
        Ref<CdDevice> found(cd_client_find_device_sync(c, id.c_str(), deadline.cancellable(), error.out()));
        if (!found || !cd_device_connect_sync(found.get(), deadline.cancellable(), error.out())) {
            failed(deadline);
            return nullptr;
        }
        return found;
    }

    // The relation of `profile` to `device`; none when the call failed for lack of time, unknown
    // when the profile is not on the device.
    std::optional<CdDeviceRelation> relation(CdDevice* device, CdProfile* profile, CallDeadline& deadline)
    {
        Error error;
        const CdDeviceRelation r =
            cd_device_get_profile_relation_sync(device, profile, deadline.cancellable(), error.out());
        if (r == CD_DEVICE_RELATION_UNKNOWN && deadline.passed()) {
            failed(deadline);
            return std::nullopt;
        }
        return r;
    }

    // The profile colord knows for the ICC file at `file`, registered under exactly that file: made
    // known from the file when colord has none with its id yet, and registered again from the file
    // when colord knows it under another one (whose removal would leave the profile pointing at
    // nothing). Another process doing the same at the same time is waited out. None when colord
    // refuses any of it.
    Ref<CdProfile> profileFor(const std::filesystem::path& file, CallDeadline& deadline)
    {
        CdClient* c = connectedClient(deadline);
        if (!c) return nullptr;
        Error error;
        Ref<CdIcc> icc(cd_icc_new());
        Ref<GFile> handle(g_file_new_for_path(file.c_str()));
        if (!cd_icc_load_file(icc.get(), handle.get(), CD_ICC_LOAD_FLAGS_NONE, deadline.cancellable(),
                              error.out())) {
            return nullptr;
        }
        const gchar* checksum = cd_icc_get_checksum(icc.get());
        if (!checksum) return nullptr;
        const std::string id = std::string("icc-") + checksum;
        constexpr int ATTEMPTS = 4;
        for (int attempt = 0; attempt < ATTEMPTS && !deadline.passed(); ++attempt) {
            Ref<CdProfile> profile(cd_client_find_profile_sync(c, id.c_str(), deadline.cancellable(), error.out()));
            if (!profile) {
                // A refusal because another process made it meanwhile is answered by finding it.
                profile.reset(cd_client_create_profile_for_icc_sync(c, icc.get(), CD_OBJECT_SCOPE_NORMAL,
                                                                    deadline.cancellable(), error.out()));
                if (!profile) continue;
            }
            if (!cd_profile_connect_sync(profile.get(), deadline.cancellable(), error.out())) continue;
            const gchar* known = cd_profile_get_filename(profile.get());
            if (known && sameFile(known, file)) return profile;
            // Known under another file (or none): taken away, then made known again from `file`. A
            // profile that cannot be taken away cannot be relied on.
            // A refusal is looked at again: another process may have taken it away first.
            if (!cd_client_delete_profile_sync(c, profile.get(), deadline.cancellable(), error.out())) continue;
        }
        failed(deadline);
        return nullptr;
    }

    bool assignProfile(CdDevice* device, const std::filesystem::path& path, CallDeadline& deadline)
    {
        // The copy in the user's store is what the desktop makes known again after a restart, and
        // the file colord is told about: no copy, no assignment. One made for an assignment that
        // fails is taken away again.
        const auto store = userIccStore();
        if (!store) return false;
        const std::optional<KeptCopy> kept = keepInStore(path, *store);
        if (!kept) return false;
        const bool assigned = assignFile(device, kept->path, deadline);
        if (!assigned && kept->made) {
            std::error_code ignored;
            std::filesystem::remove(kept->path, ignored);
        }
        return assigned;
    }

    bool assignFile(CdDevice* device, const std::filesystem::path& file, CallDeadline& deadline)
    {
        Ref<CdProfile> profile = profileFor(file, deadline);
        if (!profile) return false;
        // Another assignment of the same profile may add it between the look and the change: the
        // relation is looked at again before a refusal counts.
        constexpr int ATTEMPTS = 3;
        for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
            const auto current = relation(device, profile.get(), deadline);
            if (!current) return false;
            Error error;
            if (*current == CD_DEVICE_RELATION_SOFT &&
                !cd_device_remove_profile_sync(device, profile.get(), deadline.cancellable(), error.out())) {
                continue;
            }
            if (*current != CD_DEVICE_RELATION_HARD &&
                !cd_device_add_profile_sync(device, CD_DEVICE_RELATION_HARD, profile.get(), deadline.cancellable(),
                                            error.out())) {
                continue;
            }
            if (!cd_device_make_profile_default_sync(device, profile.get(), deadline.cancellable(), error.out())) {
                continue;
            }
            return true;
        }
        failed(deadline);
        return false;
    }

    bool removeHardProfiles(CdDevice* device, CallDeadline& deadline)
    {
        std::vector<Ref<CdProfile>> hard;
        for (auto& profile : profilesOf(device)) {
            const auto r = relation(device, profile.get(), deadline);
            if (!r) return false;
            if (*r == CD_DEVICE_RELATION_HARD) hard.push_back(std::move(profile));
        }
        for (const auto& profile : hard) {
            Error error;
            if (!cd_device_remove_profile_sync(device, profile.get(), deadline.cancellable(), error.out())) {
                failed(deadline);
                return false;
            }
        }
        return true;
    }
};

ColordColourManagement::ColordColourManagement() : state_(std::make_unique<State>())
{
    silenceGLib();
}

ColordColourManagement::~ColordColourManagement() = default;

std::optional<std::string> ColordColourManagement::displayUUID(const Screen& screen)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    if (screen.outputName.empty()) return std::nullopt;
    CallDeadline deadline(QUERY_LIMIT);
    CdClient* client = state_->connectedClient(deadline);
    if (!client) return std::nullopt;
    Error error;
    Ref<CdDevice> device(cd_client_find_device_by_property_sync(client, CD_DEVICE_METADATA_XRANDR_NAME,
                                                                screen.outputName.c_str(),
                                                                deadline.cancellable(), error.out()));
    if (!device || !cd_device_connect_sync(device.get(), deadline.cancellable(), error.out())) {
        state_->failed(deadline);
        return std::nullopt;
    }
    const gchar* id = cd_device_get_id(device.get());
    if (!id) return std::nullopt;
    return std::string(id);
}

std::optional<RecordValue> ColordColourManagement::deviceRecord(const std::string& deviceId)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    CallDeadline deadline(QUERY_LIMIT);
    Ref<CdDevice> device = state_->device(deviceId, deadline);
    if (!device) return std::nullopt;
    RecordMap custom;
    RecordMap factory;
    for (const auto& profile : profilesOf(device.get())) {
        Error error;
        if (!cd_profile_connect_sync(profile.get(), deadline.cancellable(), error.out())) {
            if (deadline.passed()) {
                state_->failed(deadline);
                return std::nullopt;
            }
            continue;  // gone since the device listed it
        }
        const gchar* id = cd_profile_get_id(profile.get());
        if (!id) continue;
        const gchar* filename = cd_profile_get_filename(profile.get());
        const auto r = state_->relation(device.get(), profile.get(), deadline);
        if (!r) return std::nullopt;
        if (*r == CD_DEVICE_RELATION_HARD) {
            // A profile without a file (colord allows them) is written as the empty text.
            custom.emplace_back(std::string(id),
                                filename ? RecordValue{FileUrl{filename}} : RecordValue{std::string()});
        } else {
            RecordMap entry;
            if (filename) entry.emplace_back(std::string(DEVICE_PROFILE_URL_KEY), RecordValue{FileUrl{filename}});
            factory.emplace_back(std::string(id), RecordValue{std::move(entry)});
        }
    }
    RecordMap record;
    record.emplace_back(std::string(CUSTOM_PROFILES_KEY), RecordValue{std::move(custom)});
    record.emplace_back(std::string(FACTORY_PROFILES_KEY), RecordValue{std::move(factory)});
    return RecordValue{std::move(record)};
}

bool ColordColourManagement::setCustomProfile(const std::string& deviceId, const std::optional<std::string>& path)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    CallDeadline deadline(ASSIGN_LIMIT);
    Ref<CdDevice> device = state_->device(deviceId, deadline);
    if (!device) return false;
    if (!path) return state_->removeHardProfiles(device.get(), deadline);
    return state_->assignProfile(device.get(), *path, deadline);
}

std::string ColordColourManagement::defaultProfileTitle(const std::string& deviceId)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    CallDeadline deadline(QUERY_LIMIT);
    Ref<CdDevice> device = state_->device(deviceId, deadline);
    if (!device) return "";
    Ref<CdProfile> profile(cd_device_get_default_profile(device.get()));
    Error error;
    if (!profile || !cd_profile_connect_sync(profile.get(), deadline.cancellable(), error.out())) {
        state_->failed(deadline);
        return "";
    }
    const gchar* title = cd_profile_get_title(profile.get());
    return title ? title : "";
}

std::unique_ptr<ColourManagement> connectColourManagement()
{
    return std::make_unique<ColordColourManagement>();
}

}  // namespace pp::colord
