-- The clean-path rules: where each junk category lives. Readable source of the shipped
-- CleanPath.db; the build loads it with sqlite3 and then runs `halvorn rules encrypt`, which
-- moves every text into its encrypted column.
--
-- path:     a folder or file. "~" stands for the home folder; other absolute paths are below
--           the system root; "Broswer Chahe" paths are relative to the home folder; the two
--           "Broken ..." catalogs hold relative paths. No wild cards: rows name concrete
--           folders. A request looks at the direct entries of its folder (hidden names
--           skipped); a request on a file yields that file.
-- keyword:  a fragment that reported entry names must contain (case-sensitive), or NULL.
-- keyvalue: for "Browser" rows the kind of data: Cache, Cookie, History or Session.

PRAGMA foreign_keys = OFF;
BEGIN TRANSACTION;

CREATE TABLE HVNCLean (
    auto_id INTEGER PRIMARY KEY AUTOINCREMENT,
    catalog TEXT NOT NULL,
    category TEXT,
    path TEXT,
    keyvalue TEXT,
    keyword TEXT,
    isselected INTEGER NOT NULL DEFAULT 1,
    path_encrypt BLOB,
    keyvalue_encrypt BLOB,
    keyword_encrypt BLOB
);

-- System options: read only by the maintenance operations; no rows are shipped.
CREATE TABLE HVN_SYS_OPT (
    auto_id INTEGER PRIMARY KEY AUTOINCREMENT,
    opt_type TEXT,
    broswer TEXT,
    config_file_path TEXT,
    config_file_path_encrypt BLOB,
    item_name_cn TEXT,
    item_name_cn_encrypt BLOB,
    item_name_en TEXT,
    item_name_en_encrypt BLOB,
    item_key TEXT,
    item_key_encrypt BLOB,
    item_value TEXT,
    item_value_encrypt BLOB
);


-- System caches: each entry of the folder is one item (grouped by name across folders).
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Cache Files', 'macOS', '/Library/Caches', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Cache Files', 'Linux', '/var/cache/apt/archives', '', '.deb', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Cache Files', 'Linux', '/var/cache/apt/archives/partial', '', '.deb', 1);

-- User caches. The browser caches inside them are left to the browser module (see "Broswer Chahe").
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('User Cache Files', 'macOS', '~/Library/Caches', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('User Cache Files', 'Linux', '~/.cache', '', 'NULL', 1);

-- System logs: the whole log folder on macOS; only rotated logs in /var/log (/private/var/log on macOS).
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Log Files', 'macOS', '/Library/Logs', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Log Files', 'macOS, Linux', '/var/log', '', '.gz', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Log Files', 'macOS', '/var/log', '', '.bz2', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Log Files', 'Linux', '/var/log', '', '.old', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('System Log Files', 'Linux', '/var/log/apt', '', '.gz', 1);

-- User logs.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('User Log Files', 'macOS', '~/Library/Logs', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('User Log Files', 'Linux', '~/.local/share/xorg', '', 'NULL', 1);

-- Browser data. keyvalue names the kind (Cache, Cookie, History, Session); History rows are walked
-- recursively, so they name single files or a key word that only history files carry.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Safari', '~/Library/Caches/com.apple.Safari', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Safari', '~/Library/Safari', 'History', 'History.db', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Safari', '~/Library/Safari/History.plist', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Safari', '~/Library/Safari/LastSession.plist', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Safari', '~/Library/Cookies/Cookies.binarycookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Safari', '~/Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Caches/Google/Chrome', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/Library/Application Support/Google/Chrome/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Caches/Chromium', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/Library/Application Support/Chromium/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.cache/google-chrome', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.config/google-chrome/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.cache/chromium', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.config/chromium/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Caches/com.operasoftware.Opera', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/Library/Application Support/com.operasoftware.Opera/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.cache/opera', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Opera', '~/.config/opera/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/Library/Caches/Firefox/Profiles', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/.cache/mozilla/firefox', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/Library/Application Support/Firefox/Profiles', 'History', 'formhistory.sqlite', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/.mozilla/firefox', 'History', 'formhistory.sqlite', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/.config/mozilla/firefox', 'History', 'formhistory.sqlite', 1);
-- Chrome-family browsers and the Snap and Flatpak homes of Chromium, Chrome and Firefox.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/.cache/chromium', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/snap/chromium/common/chromium/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/cache/chromium', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chromium', '~/.var/app/org.chromium.Chromium/config/chromium/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/cache/google-chrome', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Chrome', '~/.var/app/com.google.Chrome/config/google-chrome/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.cache/BraveSoftware/Brave-Browser', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Brave', '~/.config/BraveSoftware/Brave-Browser/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.cache/vivaldi', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Vivaldi', '~/.config/vivaldi/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.cache/microsoft-edge', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/History', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/History-journal', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Visited Links', 'History', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Current Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Current Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Last Session', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Last Tabs', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Sessions', 'Session', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Edge', '~/.config/microsoft-edge/Default/Network/Cookies', 'Cookie', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/snap/firefox/common/.cache/mozilla/firefox', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/.var/app/org.mozilla.firefox/cache/mozilla/firefox', 'Cache', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/snap/firefox/common/.mozilla/firefox', 'History', 'formhistory.sqlite', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Browser', 'Firefox', '~/.var/app/org.mozilla.firefox/.mozilla/firefox', 'History', 'formhistory.sqlite', 1);

-- Browser caches inside the user cache folders, relative to the home folder. The user cache scan
-- leaves such a folder to the browser module; with a key word it reports the folder's other entries.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Safari', '/Library/Caches/com.apple.Safari', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Chrome', '/Library/Caches/Google', '', 'Chrome', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Chromium', '/Library/Caches/Chromium', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Firefox', '/Library/Caches/Firefox', '', 'Profiles', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Opera', '/Library/Caches/com.operasoftware.Opera', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Chrome', '/.cache/google-chrome', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Chromium', '/.cache/chromium', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Firefox', '/.cache/mozilla', '', 'firefox', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Opera', '/.cache/opera', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Brave', '/.cache/BraveSoftware', '', 'Brave-Browser', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Vivaldi', '/.cache/vivaldi', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broswer Chahe', 'Edge', '/.cache/microsoft-edge', '', 'NULL', 1);

-- The folder that holds the iPhoto library (the scanner looks for the .photolibrary bundle in it).
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('iPhoto Cleanup', 'macOS', '~/Pictures', '', 'NULL', 1);

-- Photo caches that iTunes builds when it syncs photos to a device.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('IOS Photo Cache', 'macOS', '~/Pictures/iPhoto Library/iPod Photo Cache', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('IOS Photo Cache', 'macOS', '~/Pictures/iPhoto Library.photolibrary/iPod Photo Cache', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('IOS Photo Cache', 'macOS', '~/Pictures/iPod Photo Cache', '', 'NULL', 1);

-- Device software updates downloaded by iTunes.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('IOS Software Updates', 'macOS', '~/Library/iTunes/iPhone Software Updates', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('IOS Software Updates', 'macOS', '~/Library/iTunes/iPad Software Updates', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('IOS Software Updates', 'macOS', '~/Library/iTunes/iPod Software Updates', '', 'NULL', 1);

-- The downloads folder (macOS and the XDG default).
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('User Downloads', 'macOS, Linux', '~/Downloads', '', 'NULL', 1);

-- Launchd property lists; relative: each is looked at below the home folder and below the system root.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broken Login Items', 'macOS', 'Library/LaunchAgents', '', 'NULL', 1);
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broken Login Items', 'macOS', 'Library/LaunchDaemons', '', 'NULL', 1);

-- Preference files of software that is gone; relative like the login items.
INSERT INTO HVNCLean (catalog, category, path, keyvalue, keyword, isselected) VALUES ('Broken Preferences', 'macOS', 'Library/Preferences', '', 'NULL', 1);

COMMIT;
