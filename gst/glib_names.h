/* GLib's property descriptions under the short names the element's sources use. */
#ifndef ORVANE_GLIB_NAMES_H
#define ORVANE_GLIB_NAMES_H

#include <glib-object.h>

typedef GParamSpec OrvaneProp;
#define orvane_prop_int g_param_spec_int
#define orvane_prop_string g_param_spec_string
#define orvane_prop_boolean g_param_spec_boolean
#define orvane_prop_enum g_param_spec_enum
#define orvane_prop_boxed g_param_spec_boxed
#define orvane_prop_name g_param_spec_get_name

#endif /* ORVANE_GLIB_NAMES_H */
