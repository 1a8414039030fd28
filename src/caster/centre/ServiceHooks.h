// The services built above the caster (control centre, "PPP-RTK" frames,
// HTTP inspector, mailer, alarm posts) plug into it through this table. The
// executable fills it before the centre is created and the centre keeps it
// for the life of the process, so the caster never includes the modules that
// serve it. A null entry leaves its service out.
#pragma once

struct DecodeExecutor;
struct PppRaTable;
class smtp_email;
class HttpPostThread;

namespace Ntrip {

struct Vorlane;
struct CtrlNotice;

struct ServiceHooks {
    // Creation: sets up the control-centre server on (ip, port). False fails
    // the creation.
    bool (*ctrlInit)(Vorlane* center, const char* ip, int port);
    // Vorlane_Run: starts the control-centre server's loop thread.
    void (*ctrlStart)(Vorlane* center);
    // Sends one notification to the control-centre connections. Called with
    // registry locks held: it may only queue.
    void (*ctrlNotify)(int type, const CtrlNotice& notice);

    // Creation: the executor of a "PPP-RTK" base's management frames and
    // the table its reports fill.
    DecodeExecutor* (*pppRtkExecutorCreate)(Vorlane* center);
    PppRaTable* (*pppRaTableCreate)();

    // VorlaneMain, before the caster loop: starts the HTTP inspector thread.
    void (*httpInspectorStart)(Vorlane* center);

    // Creation: the mail notifier configured by the file at confPath
    // (loaded and started when the file can be opened).
    smtp_email* (*mailerCreate)(const char* confPath);
    // Replaces the statistics text of the scheduled mail.
    void (*mailerSetStatistics)(smtp_email* mailer, const char* text);
    // Posts a notice that goes out at once.
    void (*mailerPostNotice)(smtp_email* mailer, const char* text);

    // Creation: the alarm-post worker, pointed at the centre's warning record
    // (made just before) and posting when that record enables warnings.
    HttpPostThread* (*alarmPostCreate)();

    // The orderly exit, once the caster loop and the workers have ended:
    // ends and joins the services' threads, waiting at most timeoutMs for
    // each. False when one of them is still running.
    bool (*servicesStop)(Vorlane* center, unsigned timeoutMs);
};

}  // namespace Ntrip
