/* razivu: the whole public interface. Each area also has a header of its own. */
#ifndef RAZIVU_RAZIVU_H
#define RAZIVU_RAZIVU_H

#include <razivu/diagnostics.h>
#include <razivu/message.h>
#include <razivu/transport.h>
#include <razivu/support.h>
#include <razivu/logfile.h>
#include <razivu/sysquery.h>
#include <razivu/fonts.h>
#include <razivu/progman.h>
#include <razivu/calendar.h>
#include <razivu/server.h>

#endif
