-- Byte signatures of the internet-security scan: the readable source of the shipped Virus.db.
-- The build loads it with sqlite3; `halvorn rules encrypt` then checks the rows (signatures
-- are stored plain, not as encrypted fields).
--
-- virus_name:  the name reported for a match.
-- virus_code:  the exact bytes that must appear in the file, written as a hexadecimal BLOB
--              literal (so that no test string stands readable in the sources).
-- start_index: the offset, from the first byte of the file, where they must appear.
-- bytes:       the length of virus_code; the scan reads the rows ordered by it and relies on
--              that order. A signature is only compared when it ends before the file's last
--              byte, so a file that holds nothing but a signature does not match it.
--
-- Only test signatures are shipped: the EICAR anti-virus test string and markers of our own,
-- which no real file holds by chance.

PRAGMA foreign_keys = OFF;
BEGIN TRANSACTION;

CREATE TABLE HVN_VIRUS_CODE (
    auto_id INTEGER PRIMARY KEY AUTOINCREMENT,
    virus_name TEXT NOT NULL,
    virus_code BLOB NOT NULL,
    start_index INTEGER NOT NULL DEFAULT 0,
    bytes INTEGER NOT NULL
);

-- the EICAR anti-virus test string (68 bytes at the start of the file)
INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) VALUES ('EICAR-Test-File', X'58354F2150254041505B345C505A58353428505E2937434329377D2445494341522D5354414E444152442D414E544956495255532D544553542D46494C452124482B482A', 0, 68);
-- own test marker at the start of a file
INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) VALUES ('Halvorn-Test-Signature-A', X'48414C564F524E2D544553542D5349474E41545552452D413A6E6F742D612D7669727573', 0, 36);
-- own test marker at offset 64
INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) VALUES ('Halvorn-Test-Signature-B', X'48414C564F524E2D544553542D5349474E41545552452D423A6E6F742D612D7669727573', 64, 36);
-- own test marker at offset 4096
INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) VALUES ('Halvorn-Test-Signature-C', X'48414C564F524E2D544553542D5349474E41545552452D433A6E6F742D612D7669727573', 4096, 36);

COMMIT;
