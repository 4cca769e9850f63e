// The shared library's own translation unit: the exports live in orvane_api, linked in whole.
