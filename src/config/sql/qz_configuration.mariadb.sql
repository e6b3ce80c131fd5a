-- The configuration store's table on MariaDB (layout V2: all eight columns), utf8mb4 with a
-- case-insensitive collation, as the store's key cache expects.
--   mariadb --default-character-set=utf8mb4 -u USER -p DATABASE < qz_configuration.mariadb.sql
CREATE TABLE qz_configuration (
  ID         VARCHAR(32)  NOT NULL,
  PARENTID   VARCHAR(32)  NULL DEFAULT '',
  KEYNAME    VARCHAR(255) NOT NULL DEFAULT '',
  DIMENSION  INT          NULL,
  DATATYPE   VARCHAR(8)   NOT NULL DEFAULT '',
  KEYVALUE   LONGTEXT     NULL,
  CHANGEUSER VARCHAR(255) NULL,
  CHANGEDATE DATETIME     NULL,
  PRIMARY KEY (ID),
  KEY qz_configuration_parent_name (PARENTID, KEYNAME)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;
