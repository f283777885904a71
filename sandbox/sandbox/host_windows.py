"""The general request limit a network's hosts report: requests counted per host in windows
aligned to the sandbox's clock. Only reported; refusals come from the modes' own limits."""

import threading

from . import clock


class HostWindows:
    def __init__(self, limit, window):
        self.limit, self.window = limit, window
        self.lock = threading.Lock()
        self.windows = {}   # host -> [window start, requests in it]

    def count(self, host):
        """Counts one request at host: (requests left in its window, when the window ends)."""
        now = clock.now()
        start = now - now % self.window
        with self.lock:
            window = self.windows.get(host)
            if not window or window[0] != start:
                window = self.windows[host] = [start, 0]
            window[1] += 1
            return max(0, self.limit - window[1]), start + self.window

    def reset(self):
        with self.lock:
            self.windows = {}
