-- station.db: the station black and white lists, one name per row.
-- A name may stand twice; deleting a name removes every row of it.
CREATE TABLE station_blacklist (
    station_name TEXT
);
CREATE TABLE station_whitelist (
    station_name TEXT
);
