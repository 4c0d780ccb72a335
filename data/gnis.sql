-- Processing of the table gnis after each load, run by "Process SHP" and
-- "All At Once". One transaction, and safe to run again on the same table:
-- a second run changes nothing.
\set ON_ERROR_STOP on
BEGIN;

-- The shapefile comes from GPX and so is WGS 84; shp2pgsql does not know that.
SELECT UpdateGeometrySRID('gnis', 'geom', 4326)
WHERE Find_SRID(current_schema()::text, 'gnis', 'geom') <> 4326;

-- Names without stray blanks at either end.
UPDATE gnis SET name = btrim(name) WHERE name <> btrim(name);

-- The gazetteer lists some features twice; keep the first of each set of
-- exact duplicates (same name, class, type and position).
DELETE FROM gnis
WHERE gid IN (
    SELECT gid FROM (
        SELECT gid, row_number() OVER (PARTITION BY name, "desc", type, ST_AsBinary(geom) ORDER BY gid) AS copy
        FROM gnis
    ) numbered
    WHERE copy > 1
);

-- A spatial index for map queries.
CREATE INDEX IF NOT EXISTS gnis_geom_idx ON gnis USING gist (geom);

COMMIT;
ANALYZE gnis;
