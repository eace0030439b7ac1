// The Session's methods: each arms its error wrapper, prepares its input,
// calls its worker and hands the worker's record back as text.
#include "session/session.h"

#include "base/errors.h"
#include "base/vars.h"
#include "contacts/contact.h"
#include "contacts/data_source.h"
#include "contacts/search.h"
#include "dialogs/dialogs.h"
#include "screenpop/screen_pop.h"
#include "dialogs/dialog_views.h"

namespace ledra {

ModuleData& Module() {
  thread_local ModuleData data;
  return data;
}

namespace {

// "FAIL" in the answer's Result, upper-cased, is what marks a failed load.
bool LoadAnswerFailed(const Text& answer) {
  return UCase(CStr(GetVar(answer, u"Result"))) == u"FAIL";
}

}  // namespace

Session::Session() {
  Procedure proc(u" @ plugin.Session.Init");
  ModuleData& m = Module();
  proc.Step([&] {
    if (m.session_count == INT16_MAX) Raise(Err::Overflow);
    ++m.session_count;
  });
  proc.Step([&] { instance_no_ = m.session_count; });
}

Session::~Session() {
  Procedure proc(u" @ plugin.Session.Terminate");
  proc.Step([&] {
    ModuleData& m = Module();
    if (m.session_count == INT16_MIN) Raise(Err::Overflow);
    --m.session_count;
  });
  proc.Step([&] { callback_.reset(); });
  // A host that stops failing still gets the counts of what it repeated.
  LogLeftOutRepeats(false);
}

Text Session::Install() {
  Procedure proc(u" @ plugin.Session.Install");
  Text r;
  proc.Step([&] { r = InstallReal(); });
  return r;
}

Text Session::Uninstall() {
  Procedure proc(u" @ plugin.Session.Uninstall");
  return Text();
}

Text Session::Configure(const Text& rd, const Text& page) { return ShowConfigure(rd, page); }

Text Session::Initialize(const Text& data_rd, const Text& user_rd, std::shared_ptr<Object> callback) {
  Procedure proc(u" @ plugin.Session.Initialize");
  Text r;
  proc.Step([&] { callback_ = std::move(callback); });
  proc.Step([&] {
    data_rd_ = data_rd;
    user_rd_ = user_rd;
  });
  proc.Step([&] { r = TextForm(InitializeReal()); });
  return r;
}

Text Session::Uninitialize() {
  Procedure proc(u" @ plugin.Session.Uninitialize");
  Text r;
  proc.Step([&] { r = UninitializeReal(); });
  proc.Step([&] { callback_.reset(); });
  return r;
}

Text Session::Load(const Text&) {
  Procedure proc(u" @ plugin.Session.Load");
  Text r;
  proc.Step([&] { r = LoadReal(Text()); });
  proc.Step([&] { load_failed_ = LoadAnswerFailed(r); });
  return r;
}

Text Session::Unload() {
  Procedure proc(u" @ plugin.Session.Unload");
  Text r;
  proc.Step([&] { r = UnloadReal(); });
  return r;
}

Text Session::DoAction(const Text& rd) {
  Procedure proc(u" @ plugin.Session.DoAction");
  Text r;
  proc.Step([&] { r = DoActionReal(rd); });
  return r;
}

Text Session::CacheStart() {
  Procedure proc(u" @ plugin.Session.CacheStart");
  Text r;
  proc.Step([&] { cache_.Start(); });
  // Unlike the search, the walk retries a load that failed before.
  if (!conn_) {
    Text loaded;
    proc.Step([&] { loaded = LoadReal(Text()); });
    proc.Step([&] { load_failed_ = LoadAnswerFailed(loaded); });
  }
  proc.Step([&] { r = CacheRecordReal(); });
  return r;
}

Text Session::CacheEnd() {
  Procedure proc(u" @ plugin.Session.CacheEnd");
  Text r;
  proc.Step([&] { cache_.End(); });
  proc.Step([&] { r = CacheRecordReal(); });
  return r;
}

Text Session::CacheRecord() {
  Procedure proc(u" @ plugin.Session.CacheRecord");
  Text r;
  proc.Step([&] { r = CacheRecordReal(); });
  return r;
}

Text Session::Capabilities() {
  Procedure proc(u" @ plugin.Session.Capabilities");
  Text r;
  proc.Step([&] {
    const ModuleInfo& info = Sys().module;
    Text tail = CapabilitiesReal();
    r = u"{Version=" + FromAscii(std::to_string(info.major)) + u"." + FromAscii(std::to_string(info.minor)) +
        u"}{Name=LedraII}{Description=Kestrin Ledra II}{Comments=" + info.comments + u"}" + tail;
  });
  return r;
}

Text Session::CapabilitiesReal() {
  Procedure proc(u" @ plugin.plgLedraII.Capabilities");
  return u"{Client=1}{Server=1}{NeedContact=Show Contact,Sales processing,Order processing,Purchase orders}";
}

bool Session::Blocked() {
  Procedure proc(u" @ plugin.Session.Blocked");
  return blocked_flag_;
}

Text Session::SetProperty(const Text&, const Var&) {
  Procedure proc(u" @ plugin.plgLedraII.SetProperty");
  return Text();
}

Text Session::GetProperty(const Text&) {
  Procedure proc(u" @ plugin.plgLedraII.GetProperty");
  return Text();
}

Text Session::InstallReal() { return Text(); }

Text Session::UninitializeReal() { return Text(); }

Var Session::InitializeReal() {
  ApplySettings(data_rd_, settings_);
  return Var();
}

Text Session::LoadReal(const Text&) {
  // The walk's table goes with the connection it came from.
  cache_.Release();
  Text r = LoadDataSource(instance_no_, settings_, conn_);
  // The first caller is identified from keys, not by a scan: both tables'
  // keys are built now, in the background. The old ones go only after, so
  // that the keys of a table loaded again are kept.
  std::shared_ptr<void> kept;
  if (conn_ && !LoadAnswerFailed(r)) kept = KeepSearchKeys(*conn_, settings_);
  keys_kept_ = std::move(kept);
  return r;
}

Text Session::UnloadReal() {
  Procedure proc(u" @ plgLedraII.Unload");
  proc.Step([&] { keys_kept_.reset(); });
  proc.Step([&] { conn_.reset(); });
  return Text();
}

Text Session::FindContact(const Text& rd) {
  Procedure proc(u" @ plugin.Session.FindContact");
  Text r;
  Text request = PrepareRequest(rd, u"FindContact", u"", proc);
  proc.Step([&] { r = FindReal(request); });
  return r;
}

Text Session::FindList(const Text& rd) {
  Procedure proc(u" @ plugin.Session.FindList");
  Text r;
  Text request = PrepareRequest(rd, u"FindList", u"Number", proc);
  proc.Step([&] { r = FindReal(request); });
  return r;
}

Text Session::FindReal(const Text& rd) {
  // A load that failed is not retried here; the queries then fail and the
  // answer says nothing was found.
  Procedure proc(u" @ plgLedraII.Find");
  proc.Step([&] {
    if (!conn_ && !load_failed_) LoadReal(Text());
  });
  return ContactSearch(conn_, settings_).FindReal(rd);
}

Text Session::GetContact(const Text& typ, const Var& res) { return ledra::GetContact(typ, res); }

Text Session::CacheRecordReal() { return cache_.Next(conn_, settings_); }

bool Session::CheckRunning(bool start) { return CheckLedraRunning(start); }

Text Session::DoActionReal(const Text& rd) { return DoScreenPopAction(rd); }

}  // namespace ledra
