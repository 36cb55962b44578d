// Why a backup session took or left out each writer, component and volume.
//
// The writer classification, the selections and the critical-volume computation note
// every decision they make, with its reason, as they make it. A caller that wants the
// plan of a backup without taking it (winclass writers, winclass critical-volumes) runs
// the session up to the selection and reads the decisions back; nothing is re-derived
// outside the code that decides.
#pragma once

#include <libwinclass/winclassapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// What a decision is about: the value of vsscr_decision.subject.
enum vsscr_subject {
    VSSCR_SUBJECT_WRITER = 1,
    VSSCR_SUBJECT_COMPONENT = 2,
    VSSCR_SUBJECT_VOLUME = 3,
};

// One decision. Every text is UTF-8 and never NULL (empty when it does not apply); the
// texts live until the callback returns.
struct vsscr_decision {
    int subject;            // enum vsscr_subject
    int taken;              // 1: included (classed, selected, critical); 0: left out or refused
    const char *writer;     // the writer's name
    const char *component;  // the component as "logical path\name", or "name" without a path
    const char *volume;     // the volume as the session names it (X:\ or a mount folder)
    const char *verdict;    // a short word or two: "system state", "selected", "refused"...
    const char *reason;     // one sentence: why
};

typedef void (*vsscr_decision_callback)(const struct vsscr_decision *decision, void *context);

// Calls back once per decision made since the backup session began, in the order made.
WINCLASS_API void vsscr_get_decisions(vsscr_decision_callback callback, void *context);

// Sorts every writer of the open backup session into the user-data, system-state and
// unsupported lists (each filled once per session), so that each writer's class and reason
// is among the decisions. Returns the number of writers the host reports, -1 when no
// backup session is open.
WINCLASS_API int vsscr_classify_writers(void);

#ifdef __cplusplus
}
#endif
