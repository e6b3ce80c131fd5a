-- The configuration store's table on SQLite (layout V2: all eight columns).
-- Names compare without case (ASCII letters), as the store's key cache expects.
--   sqlite3 /path/to/config.db < qz_configuration.sqlite.sql
CREATE TABLE qz_configuration (
  ID         VARCHAR(32)  NOT NULL PRIMARY KEY,
  PARENTID   VARCHAR(32)  NULL DEFAULT '',
  KEYNAME    VARCHAR(255) NOT NULL DEFAULT '' COLLATE NOCASE,
  DIMENSION  INTEGER      NULL,
  DATATYPE   VARCHAR(8)   NOT NULL DEFAULT '',
  KEYVALUE   TEXT         NULL,
  CHANGEUSER VARCHAR(255) NULL,
  CHANGEDATE DATETIME     NULL
);
CREATE INDEX qz_configuration_parent_name ON qz_configuration (PARENTID, KEYNAME);
