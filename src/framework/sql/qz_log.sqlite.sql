-- The document log's tables on SQLite. Columns whose names begin with META_ are optional: the
-- document log fills each from the metadata field of that external name (add them as needed).
--   sqlite3 /path/to/system.db < qz_log.sqlite.sql
CREATE TABLE qz_log (
  DOCID        VARCHAR(32)  NULL,
  STACKID      VARCHAR(32)  NULL,
  CREATIONDATE DATETIME     NOT NULL,
  USERNAME     VARCHAR(255) NULL,
  SERVICE      VARCHAR(255) NULL,
  APPLICATION  VARCHAR(255) NULL,
  HOST         VARCHAR(255) NULL,
  LOGTYPE      VARCHAR(32)  NULL,
  LOGTEXT      TEXT         NULL
);
CREATE INDEX qz_log_docid ON qz_log (DOCID);
CREATE INDEX qz_log_creationdate ON qz_log (CREATIONDATE);
CREATE TABLE qz_meta (
  DOCID      VARCHAR(32)  NOT NULL,
  FIELDNAME  VARCHAR(255) NOT NULL,
  FIELDVALUE TEXT         NULL
);
CREATE INDEX qz_meta_docid ON qz_meta (DOCID);
